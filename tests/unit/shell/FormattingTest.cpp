#include "shell/Formatting.h"

#include <limits>

#include <QLocale>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace orvo {
namespace {

TEST(Formatting, DurationsAndMediaTimesAsMinutesAndSeconds) {
    EXPECT_EQ(convertSecondstToMin(5.9), "0:05");
    EXPECT_EQ(convertSecondstToMin(59.99), "0:59");
    EXPECT_EQ(convertSecondstToMin(65), "1:05");
    EXPECT_EQ(convertSecondstToMin(0), "0:00");
    EXPECT_EQ(convertSecondstToMin(std::numeric_limits<double>::quiet_NaN()), "0:00");
    EXPECT_EQ(convertSecondstToMin(std::numeric_limits<double>::infinity()), "0:00");
    EXPECT_EQ(convertSecondstToMin(-65), "0:00");
    // Media times are padded.
    EXPECT_EQ(toDisplayString(MediaTime::fromSeconds(59.5)), "00:59");
    EXPECT_EQ(toDisplayString(MediaTime::fromSeconds(125)), "02:05");
    EXPECT_EQ(toDisplayString(MediaTime::fromSeconds(6000)), "100:00");
    EXPECT_EQ(toDisplayString({44100 * 3, 44100, false}), "00:03");
    EXPECT_EQ(toDisplayString(MediaTime::makeIndefinite()), "");
    EXPECT_EQ(toDisplayString({5, 0, false}), "");
}

TEST(Formatting, PhoneNumbersTakeTheMaskOfTheirLength) {
    EXPECT_EQ(convertToNumberFormate("1234567890123"), "1234567890123");
    EXPECT_EQ(convertToNumberFormate("380501234567"), "+38 050 123-45-67");
    EXPECT_EQ(convertToNumberFormate("79161234567"), "+7 916 123-45-67");
    EXPECT_EQ(convertToNumberFormate("9161234567"), "916 123-45-67");
    EXPECT_EQ(convertToNumberFormate("123456789"), "123 456-789");
    EXPECT_EQ(convertToNumberFormate("12345"), "123 45");
    EXPECT_EQ(convertToNumberFormate("8"), "8");
    EXPECT_EQ(convertToNumberFormate(""), "");
}

TEST(Formatting, Md5IsLowerCaseHexOfTheUtf8Text) {
    EXPECT_EQ(MD5(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(MD5(QString::fromUtf8("über")), "860828352d2d9e23a47335120b84fd9c");
}

TEST(Formatting, DayCountsIgnoreTheTimeOfDay) {
    const QDate today(2024, 3, 10);
    const QDateTime earlierToday(today, QTime(0, 1));
    const QDateTime lateYesterday(today.addDays(-1), QTime(23, 59));
    const QDateTime nextWeek(today.addDays(7), QTime(12, 0));
    EXPECT_EQ(compareAndReturnDays(earlierToday, false, today), 0);
    EXPECT_EQ(compareAndReturnDays(lateYesterday, false, today), 1);
    EXPECT_EQ(compareAndReturnDays(lateYesterday, true, today), -1);
    EXPECT_EQ(compareAndReturnDays(nextWeek, true, today), 7);
    EXPECT_EQ(compareAndReturnDays(QDateTime(), false, today), 0);
    EXPECT_EQ(compareAndReturnDays(QDateTime::currentDateTime().addSecs(-1)), 0);
}

TEST(Formatting, StoredDatesInFixedPatternsAndShownOnesInTheUsersLanguage) {
    const QDateTime local(QDate(2024, 1, 31), QTime(14, 5, 9));
    EXPECT_EQ(convertToSqlFormat(local), "2024-01-31 14:05:09");
    EXPECT_EQ(convertToTimeStamp(local), "20240131140509");

    const QDateTime justAfterMidnightEast(QDate(2024, 1, 1), QTime(0, 10), QTimeZone("Asia/Tokyo"));
    EXPECT_EQ(getOnlyDate(justAfterMidnightEast), "2023-12-31");
    EXPECT_EQ(getOnlyDate(QDateTime(QDate(2024, 1, 1), QTime(12, 0), Qt::UTC)), "2024-01-01");

    // Shown dates follow the user's language.
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(convertToNormalFormated(local), "Wed, 31 Jan 2024 14:05:09");
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    const QString russian = convertToNormalFormated(local);
    EXPECT_TRUE(russian.contains("2024 14:05:09")) << russian.toStdString();
    EXPECT_NE(russian, "Wed, 31 Jan 2024 14:05:09");
    QLocale::setDefault(saved);
}

} // namespace
} // namespace orvo
