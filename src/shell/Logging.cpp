#include "shell/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "platform/FileAttributes.h"
#include "platform/Platform.h"
#include "shell/API.h"
#include "shell/Console.h"
#include "shell/Formatting.h"

namespace orvo {
namespace {

QString severityName(EventLoging event) {
    switch (event) {
    case EventLoging::error:
        return QStringLiteral("error");
    case EventLoging::ok:
        return QStringLiteral("ok");
    case EventLoging::info:
        break;
    }
    return QStringLiteral("info");
}

// Whole line in one unbuffered write, so that appends of several threads never interleave.
bool appendLine(QFile& file, const QByteArray& line) {
    return file.write(line) == line.size();
}

void removeEntry(const QString& path) {
    const QFileInfo entry(path);
    if (entry.isDir() && !entry.isSymLink()) {
        QDir(path).removeRecursively();
    } else {
        QFile::remove(path);
    }
}

} // namespace

QString Logging::lineFor(const QString& text, EventLoging event, const QDateTime& time) {
    return convertToSqlFormat(time) + " Event: " + severityName(event) + " Value: " + text;
}

QString Logging::dayFilePath(const QDateTime& time) {
    return API::techLogPath() + "/" + getOnlyDate(time) + ".txt";
}

void Logging::write(const QString& text, EventLoging event, bool writeToFile) {
    const QDateTime now = QDateTime::currentDateTime();
    const QString line = lineFor(text, event, now);
    consoleLine(line);
    if (!writeToFile) {
        return;
    }
    const QByteArray bytes = line.toUtf8() + '\n';
    QFile file(dayFilePath(now));
    const auto append = QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered;
    // Creating the file exclusively tells the first entry of the day apart without a race.
    if (file.open(append | QIODevice::NewOnly)) {
        appendLine(file, bytes);
        file.close();
        removeOldEntries(API::techLogPath(), now.date());
        return;
    }
    if (file.open(append | QIODevice::ExistingOnly)) {
        appendLine(file, bytes);
    }
}

void Logging::removeOldEntries(const QString& folder, const QDate& today) {
    const auto* attributes = Platform::shared().find<FileAttributes>();
    if (attributes == nullptr) {
        return;
    }
    const QStringList entries = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden |
                                                       QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        const QString path = folder + "/" + entry;
        const auto created = attributes->creationDate(path);
        if (created && compareAndReturnDays(*created, false, today) > 7) {
            removeEntry(path);
        }
    }
}

} // namespace orvo
