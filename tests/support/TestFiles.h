#pragma once

#include <functional>

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace orvo::test {

// Removes the whole storage tree of the test's private home.
void removeStorageTree();
QByteArray readFile(const QString& path);
void writeFile(const QString& path, const QByteArray& bytes);
QStringList readLines(const QString& path);
// Polls condition until it holds or timeoutMs has passed; returns whether it held.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs);
// The same with the main thread's events running, where the outcomes arrive.
bool waitWithEvents(const std::function<bool()>& condition, int timeoutMs);
// What the sqlite3 tool prints for one SQL text on the database file, trimmed.
QString sqliteField(const QString& file, const QString& sql);
// What fn printed to standard output.
QString capturedConsole(const std::function<void()>& fn);

} // namespace orvo::test
