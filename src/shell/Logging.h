#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>

namespace orvo {

// Severity of a technical log entry, written by its lower-case name.
enum class EventLoging { error, ok, info };

// The technical log: one line per entry to the console and, unless asked otherwise, to one
// file per GMT day in API::techLogPath(), keeping seven days.
class Logging {
public:
    Logging() = delete;

    // Any thread; no lock: each call is one self-contained append of a whole line.
    // Never reports a failure.
    static void write(const QString& text, EventLoging event, bool writeToFile = true);

    static QString lineFor(const QString& text, EventLoging event, const QDateTime& time);
    static QString dayFilePath(const QDateTime& time);

    // Deletes the entries of folder created more than seven calendar days before today.
    // An entry without a known creation date stays.
    static void removeOldEntries(const QString& folder, const QDate& today);
};

} // namespace orvo
