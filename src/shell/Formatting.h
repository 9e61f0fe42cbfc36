#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>

#include "platform/SessionPreset.h"
#include "shell/MediaTime.h"

// Conversions of durations, dates, phone numbers, names and quality settings into the texts
// and values shown on screen, used in file names and written to the log. Any thread.
namespace orvo {

// "m:ss" with unpadded minutes that grow past 59; 0:00 for negative or non-finite input.
QString convertSecondstToMin(double seconds);

// "%02d:%02d" of minutes and seconds; "" for an indefinite or infinite time.
QString toDisplayString(const MediaTime& time);

// "E, d MMM yyyy HH:mm:ss" in the user's language, local time.
QString convertToNormalFormated(const QDateTime& date);
// "yyyy-MM-dd HH:mm:ss", local time, POSIX locale.
QString convertToSqlFormat(const QDateTime& date);
// "yyyyMMddHHmmss", local time, POSIX locale.
QString convertToTimeStamp(const QDateTime& date);
// "yyyy-MM-dd" in GMT.
QString getOnlyDate(const QDateTime& date);

// Whole calendar days from the date's day to today (revers: from today to the date's day).
int compareAndReturnDays(const QDateTime& date, bool revers = false,
                         const QDate& today = QDate::currentDate());

// A phone number laid out by the mask its length chooses.
QString convertToNumberFormate(const QString& number);

// 32 lower-case hexadecimal digits of the MD5 digest of the UTF-8 text.
QString MD5(const QString& text);

// "0" low, "1" medium, "2" high; anything else low.
SessionPreset convertQuality(const QString& quality);

} // namespace orvo
