#include "support/TestFiles.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include "shell/API.h"

namespace orvo::test {

void removeStorageTree() {
    QDir(API::homePath()).removeRecursively();
}

QString sqliteField(const QString& file, const QString& sql) {
    QProcess process;
    process.start(QStringLiteral("sqlite3"), {file, sql});
    process.waitForFinished();
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
}

QStringList readLines(const QString& path) {
    return QString::fromUtf8(readFile(path)).split('\n', Qt::SkipEmptyParts);
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    for (QDeadlineTimer deadline(timeoutMs); !deadline.hasExpired(); QThread::msleep(20)) {
        if (condition()) {
            return true;
        }
    }
    return condition();
}

bool waitWithEvents(const std::function<bool()>& condition, int timeoutMs) {
    return waitUntil(
        [&] {
            QCoreApplication::processEvents();
            return condition();
        },
        timeoutMs);
}

QString capturedConsole(const std::function<void()>& fn) {
    testing::internal::CaptureStdout();
    fn();
    return QString::fromStdString(testing::internal::GetCapturedStdout());
}

} // namespace orvo::test
