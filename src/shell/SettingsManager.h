#pragma once

#include <QString>

namespace orvo {

// String settings by key in the XML property list at API::settingsPath(). No cache: every
// read loads the file and every write rewrites it. Main thread; stores must not overlap.
class SettingsManager {
public:
    static SettingsManager& shared();

    // Copies the default settings from the program's data files when the file is missing.
    void createSettingFile();

    // The string stored under key; "" when the file is unreadable, the key absent or its
    // value not a string.
    QString getValue(const QString& key);

    // Stores value under key, keeping every other entry. Dropped when the file does not hold
    // a dictionary, so that an unreadable file is never replaced.
    void writeValueSetting(const QString& value, const QString& key);

    // Whether the user wants the other side's echo out of their own voice ("RemoveEcho"; on
    // unless "NO").
    bool removesEcho() { return getValue(QStringLiteral("RemoveEcho")) != QLatin1String("NO"); }

private:
    SettingsManager() = default;
};

} // namespace orvo
