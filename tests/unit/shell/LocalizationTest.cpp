#include "shell/Localization.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace orvo {
namespace {

QJsonObject table(const QString& language) {
    QFile file(":/strings/" + language + ".json");
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    QJsonParseError error{};
    const auto document = QJsonDocument::fromJson(file.readAll(), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    return document.object();
}

QStringList placeholders(const QString& text) {
    static const QRegularExpression pattern(R"(%(@|d|\.02f|%))");
    QStringList found;
    for (auto it = pattern.globalMatch(text); it.hasNext();) {
        found << it.next().captured();
    }
    return found;
}

class LocalizationTest : public testing::Test {
protected:
    void TearDown() override { QLocale::setDefault(saved); }
    QLocale saved;
};

TEST_F(LocalizationTest, BothTablesHaveTheSameKeysAndPlaceholders) {
    const QJsonObject english = table("en");
    const QJsonObject russian = table("ru");
    ASSERT_FALSE(english.isEmpty());
    for (const QString& key : russian.keys()) {
        EXPECT_TRUE(english.contains(key)) << "missing in en.json: " << key.toStdString();
    }
    // A Russian text is written in Cyrillic: an English text copied over is no translation.
    static const QRegularExpression cyrillic(QStringLiteral("[\\x{0400}-\\x{04FF}]"));
    for (const QString& key : english.keys()) {
        EXPECT_TRUE(russian.contains(key)) << "missing in ru.json: " << key.toStdString();
        EXPECT_FALSE(english[key].toString().isEmpty()) << key.toStdString();
        EXPECT_TRUE(russian[key].toString().contains(cyrillic)) << key.toStdString();
        EXPECT_EQ(placeholders(english[key].toString()), placeholders(russian[key].toString()))
            << key.toStdString();
    }
}

TEST_F(LocalizationTest, TextsFollowTheLocaleWithFallbacksAndFillTheirPlaceholdersInOrder) {
    QLocale::setDefault(QLocale(QLocale::English));
    const QString english = Localization::text("CANCEL");
    QLocale::setDefault(QLocale(QLocale::Russian));
    const QString russian = Localization::text("CANCEL");
    EXPECT_EQ(english, table("en")["CANCEL"].toString());
    EXPECT_EQ(russian, table("ru")["CANCEL"].toString());
    EXPECT_NE(english, russian);

    QLocale::setDefault(QLocale(QLocale::German));
    EXPECT_EQ(Localization::text("CANCEL"), english);
    EXPECT_EQ(Localization::text("NO_SUCH_KEY"), "NO_SUCH_KEY");

    // Placeholders in the style of printf are filled in order.
    EXPECT_EQ(Localization::format("%@: %d files, %.02f %@ (100%%)", {"Audio", 3, 1.2666, "MB"}),
              "Audio: 3 files, 1.27 MB (100%)");
    EXPECT_EQ(Localization::format("%@ and %@", {"one"}), "one and ");
    EXPECT_EQ(Localization::format("%@", {"%d stays text"}), "%d stays text");
    EXPECT_EQ(Localization::format("50% off %s", {}), "50% off %s");
    EXPECT_EQ(Localization::format("%.02f", {0.005}), "0.01");
}

} // namespace
} // namespace orvo
