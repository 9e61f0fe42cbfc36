#include "shell/Logging.h"

#include <memory>
#include <set>
#include <thread>
#include <vector>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTimeZone>
#include <gtest/gtest.h>

#include "fakes/FakeFileAttributes.h"
#include "platform/Platform.h"
#include "shell/API.h"
#include "shell/CopyFiles.h"
#include "support/TestFiles.h"

namespace orvo {
namespace {

const QRegularExpression
    linePattern(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d Event: (error|ok|info) Value: .*$)");

class LoggingTest : public testing::Test {
protected:
    void SetUp() override {
        test::removeStorageTree();
        CopyFiles::checkFilesAndCopy();
        auto fake = std::make_unique<FakeFileAttributes>();
        attributes = fake.get();
        Platform::shared().install<FileAttributes>(std::move(fake));
    }
    void TearDown() override { Platform::shared().clear(); }

    static QString todayFile() { return Logging::dayFilePath(QDateTime::currentDateTime()); }
    static QString logEntry(const QString& name) { return API::techLogPath() + "/" + name; }

    FakeFileAttributes* attributes = nullptr;
};

TEST_F(LoggingTest, FirstEntryCreatesTheDayFileAndLaterOnesAppend) {
    // The day file is named by the GMT date: 00:30 in Moscow is still the previous day.
    const QDateTime time(QDate(2024, 2, 1), QTime(0, 30), QTimeZone("Europe/Moscow"));
    EXPECT_EQ(Logging::dayFilePath(time), API::techLogPath() + "/2024-01-31.txt");

    const QString console =
        test::capturedConsole([] { Logging::write("first", EventLoging::info); });
    EXPECT_TRUE(linePattern.match(console.trimmed()).hasMatch()) << console.toStdString();
    Logging::write("second\nwith a break", EventLoging::error);

    const QString content = QString::fromUtf8(test::readFile(todayFile()));
    const QStringList lines = content.split('\n');
    ASSERT_EQ(lines.size(), 4); // two entries, one break inside the second, final newline
    EXPECT_TRUE(lines[0].endsWith("Event: info Value: first"));
    EXPECT_TRUE(lines[1].endsWith("Event: error Value: second"));
    EXPECT_EQ(lines[2], "with a break");
    EXPECT_EQ(lines[3], "");
}

TEST_F(LoggingTest, ConsoleOnlyEntriesAndAMissingFolderTouchNoFile) {
    QString console =
        test::capturedConsole([] { Logging::write("console only", EventLoging::ok, false); });
    EXPECT_TRUE(console.contains("Event: ok Value: console only"));
    EXPECT_TRUE(QDir(API::techLogPath()).isEmpty());

    ASSERT_TRUE(QDir(API::techLogPath()).removeRecursively());
    console = test::capturedConsole([] { Logging::write("lost", EventLoging::info); });
    EXPECT_TRUE(console.contains("Value: lost"));
    EXPECT_FALSE(QFile::exists(API::techLogPath()));
}

TEST_F(LoggingTest, OnlyTheFirstEntryOfTheDayRemovesFilesOlderThanSevenDays) {
    const QDateTime now = QDateTime::currentDateTime();
    for (const char* name : {"old8.txt", "old7.txt", "nodate.txt", "old30"}) {
        test::writeFile(logEntry(name), "x\n");
    }
    QDir(API::techLogPath()).mkdir("oldfolder");
    attributes->setCreationDate(logEntry("old8.txt"), now.addDays(-8));
    attributes->setCreationDate(logEntry("old7.txt"), now.addDays(-7));
    attributes->setCreationDate(logEntry("old30"), now.addDays(-30));
    attributes->setCreationDate(logEntry("oldfolder"), now.addDays(-9));

    Logging::write("new day", EventLoging::info);

    EXPECT_FALSE(QFile::exists(logEntry("old8.txt")));
    EXPECT_FALSE(QFile::exists(logEntry("old30")));
    EXPECT_FALSE(QFile::exists(logEntry("oldfolder")));
    EXPECT_TRUE(QFile::exists(logEntry("old7.txt")));
    EXPECT_TRUE(QFile::exists(logEntry("nodate.txt")));
    EXPECT_TRUE(QFile::exists(todayFile()));

    test::writeFile(logEntry("old.txt"), "x\n");
    attributes->setCreationDate(logEntry("old.txt"), now.addDays(-20));
    Logging::write("second", EventLoging::info);
    EXPECT_TRUE(QFile::exists(logEntry("old.txt")));
}

TEST_F(LoggingTest, ConcurrentWritersLeaveWholeLines) {
    constexpr int threads = 8;
    constexpr int perThread = 250;
    const QString padding(200, 'p');
    std::vector<std::thread> writers;
    testing::internal::CaptureStdout();
    for (int t = 0; t < threads; ++t) {
        writers.emplace_back([t, &padding] {
            for (int i = 0; i < perThread; ++i) {
                Logging::write(QString("writer %1 entry %2 ").arg(t).arg(i) + padding,
                               EventLoging::info);
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    testing::internal::GetCapturedStdout();

    const QStringList lines = test::readLines(todayFile());
    ASSERT_EQ(lines.size(), threads * perThread);
    std::set<QString> seen;
    for (const QString& line : lines) {
        ASSERT_TRUE(linePattern.match(line).hasMatch()) << line.toStdString();
        ASSERT_TRUE(line.endsWith(padding)) << line.toStdString();
        seen.insert(line.section(" Value: ", 1));
    }
    EXPECT_EQ(seen.size(), size_t(threads * perThread));
}

} // namespace
} // namespace orvo
