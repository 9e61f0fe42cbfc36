#pragma once

#include <memory>
#include <optional>

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace PList {
class Dictionary;
}

namespace orvo {

// The contents of a settings file: a property list (XML or binary) whose root is a
// dictionary. Entries that are not strings are kept as they are, so that a write loses
// nothing, but read as "".
class SettingsFile {
public:
    // Far beyond a handful of settings; larger files are not read.
    static constexpr qsizetype largestFile = 16 * 1024 * 1024;

    // Absent when the bytes are not a property list with a dictionary at its root, or hold
    // what the property-list library cannot walk safely.
    static std::optional<SettingsFile> parse(const QByteArray& bytes);

    SettingsFile(SettingsFile&&) noexcept;
    SettingsFile& operator=(SettingsFile&&) noexcept;
    ~SettingsFile();

    QStringList keys() const;
    // The string under key; "" when the key is absent or its value is not a string.
    QString value(const QString& key) const;
    void setValue(const QString& key, const QString& value);
    // As the settings file is written: an XML property list.
    QByteArray toXml() const;

private:
    explicit SettingsFile(std::unique_ptr<PList::Dictionary> dictionary);

    std::unique_ptr<PList::Dictionary> dictionary_;
};

} // namespace orvo
