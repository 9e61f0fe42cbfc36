#include "shell/Localization.h"

#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

namespace orvo {
namespace {

using Table = QHash<QString, QString>;

Table loadTable(const QString& language) {
    QFile file(":/strings/" + language + ".json");
    Table table;
    if (!file.open(QIODevice::ReadOnly)) {
        return table;
    }
    const QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        table.insert(it.key(), it.value().toString());
    }
    return table;
}

const Table& englishTable() {
    static const Table table = loadTable("en");
    return table;
}

const Table& russianTable() {
    static const Table table = loadTable("ru");
    return table;
}

const Table* tableForDefaultLocale() {
    switch (QLocale().language()) {
    case QLocale::Russian:
        return &russianTable();
    default:
        return nullptr;
    }
}

QString argumentText(const QVariantList& arguments, int index, QStringView spec) {
    if (index >= arguments.size()) {
        return {};
    }
    const QVariant& argument = arguments[index];
    if (spec == u"%d") {
        return QString::number(argument.toLongLong());
    }
    if (spec == u"%.02f") {
        return QString::number(argument.toDouble(), 'f', 2);
    }
    return argument.toString();
}

} // namespace

QString Localization::text(const QString& key) {
    if (const Table* table = tableForDefaultLocale()) {
        if (auto it = table->constFind(key); it != table->constEnd()) {
            return *it;
        }
    }
    return englishTable().value(key, key);
}

QString Localization::format(const QString& format, const QVariantList& arguments) {
    static constexpr QStringView specs[] = {u"%@", u"%d", u"%.02f"};
    QString result;
    int next = 0;
    const QStringView text(format);
    for (qsizetype i = 0; i < text.size();) {
        if (text.mid(i).startsWith(u"%%")) {
            result += '%';
            i += 2;
            continue;
        }
        bool matched = false;
        for (const QStringView spec : specs) {
            if (text.mid(i).startsWith(spec)) {
                result += argumentText(arguments, next++, spec);
                i += spec.size();
                matched = true;
                break;
            }
        }
        if (!matched) {
            result += text[i++];
        }
    }
    return result;
}

} // namespace orvo
