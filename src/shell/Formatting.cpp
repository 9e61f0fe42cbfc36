#include "shell/Formatting.h"

#include <cmath>

#include <QLocale>
#include <QTimeZone>
#include <openssl/evp.h>

namespace orvo {
namespace {

// Whole seconds toward zero; durations are never negative, so anything else shows as 0.
long long wholeSeconds(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0) {
        return 0;
    }
    return static_cast<long long>(seconds);
}

QString posixFormat(const QDateTime& date, const QString& pattern) {
    return QLocale::c().toString(date.toLocalTime(), pattern);
}

QString maskFor(const QString& number) {
    if (number.startsWith('8')) {
        return QStringLiteral("X XXX XXX-XX-XX");
    }
    switch (number.size()) {
    case 12:
        return QStringLiteral("+XX XXX XXX-XX-XX");
    case 11:
        return QStringLiteral("+X XXX XXX-XX-XX");
    case 10:
        return QStringLiteral("XXX XXX-XX-XX");
    case 9:
        return QStringLiteral("XXX XXX-XXX");
    default:
        return QStringLiteral("XXX XXX-XX-XX");
    }
}

} // namespace

QString convertSecondstToMin(double seconds) {
    const long long n = wholeSeconds(seconds);
    return QString::number(n / 60) + ":" + QString::number(n % 60).rightJustified(2, '0');
}

QString toDisplayString(const MediaTime& time) {
    const double seconds = time.seconds();
    if (std::isnan(seconds) || std::isinf(seconds)) {
        return {};
    }
    const long long n = wholeSeconds(seconds);
    return QString::asprintf("%02lld:%02lld", n / 60, n % 60);
}

QString convertToNormalFormated(const QDateTime& date) {
    QLocale::Language language = QLocale().language();
    if (language == QLocale::AnyLanguage || language == QLocale::C) {
        language = QLocale::English;
    }
    return QLocale(language).toString(date.toLocalTime(), "ddd, d MMM yyyy HH:mm:ss");
}

QString convertToSqlFormat(const QDateTime& date) {
    return posixFormat(date, "yyyy-MM-dd HH:mm:ss");
}

QString convertToTimeStamp(const QDateTime& date) {
    return posixFormat(date, "yyyyMMddHHmmss");
}

QString getOnlyDate(const QDateTime& date) {
    return QLocale::c().toString(date.toUTC(), "yyyy-MM-dd");
}

int compareAndReturnDays(const QDateTime& date, bool revers, const QDate& today) {
    const QDate day = date.toLocalTime().date();
    if (!day.isValid() || !today.isValid()) {
        return 0;
    }
    return int(revers ? today.daysTo(day) : day.daysTo(today));
}

QString convertToNumberFormate(const QString& number) {
    if (number.size() > 12) {
        return number;
    }
    const QString mask = maskFor(number);
    QString result;
    qsizetype cursor = 0;
    for (const QChar m : mask) {
        if (cursor >= number.size()) {
            break;
        }
        if (m == 'X') {
            result += number[cursor++];
        } else {
            result += m;
        }
    }
    return result;
}

QString MD5(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.constData(), size_t(bytes.size()), digest, &length, EVP_md5(), nullptr);
    QString hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += QString::asprintf("%02hhx", digest[i]);
    }
    return hex;
}

SessionPreset convertQuality(const QString& quality) {
    if (quality == "1") {
        return SessionPreset::medium;
    }
    if (quality == "2") {
        return SessionPreset::high;
    }
    return SessionPreset::low;
}

} // namespace orvo
