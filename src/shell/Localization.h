#pragma once

#include <QString>
#include <QVariantList>

namespace orvo {

// User-visible texts by key, from the string tables shipped as resources: the table of the
// default locale's language, then English, then the key itself. Any thread.
class Localization {
public:
    Localization() = delete;

    static QString text(const QString& key);

    // printf-style placeholders: %@ (text), %d (integer), %.02f (two decimals), %% (a percent
    // sign); arguments are taken in order, a missing one reads as empty.
    static QString format(const QString& format, const QVariantList& arguments);
};

} // namespace orvo
