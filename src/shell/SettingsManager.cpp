#include "shell/SettingsManager.h"

#include <filesystem>
#include <system_error>

#include <QFile>
#include <QSaveFile>

#include "shell/API.h"
#include "shell/Bundle.h"
#include "shell/Console.h"
#include "shell/SettingsFile.h"

namespace orvo {
namespace {

// The whole file, or nothing when it cannot be read or holds no dictionary.
std::optional<SettingsFile> loadSettings() {
    QFile file(API::settingsPath());
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return SettingsFile::parse(file.read(SettingsFile::largestFile + 1));
}

// Temporary file in the same folder, then rename: readers see the old or the new file.
bool saveAtomically(const SettingsFile& settings) {
    QSaveFile file(API::settingsPath());
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    file.write(settings.toXml());
    return file.commit();
}

} // namespace

SettingsManager& SettingsManager::shared() {
    static SettingsManager manager;
    return manager;
}

void SettingsManager::createSettingFile() {
    const QString& path = API::settingsPath();
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(path.toStdString(), error))) {
        return;
    }
    const auto resource = Bundle::pathForResource("Settings", "plist");
    if (!resource) {
        return;
    }
    if (std::filesystem::copy_file(resource->toStdString(), path.toStdString(), error)) {
        consoleLine("Settings file not exist. Created. Path: " + path);
    }
}

QString SettingsManager::getValue(const QString& key) {
    createSettingFile();
    const auto settings = loadSettings();
    return settings ? settings->value(key) : QString();
}

void SettingsManager::writeValueSetting(const QString& value, const QString& key) {
    createSettingFile();
    if (auto settings = loadSettings()) {
        settings->setValue(key, value);
        saveAtomically(*settings);
    }
    consoleLine("Set setting " + key + ": " + value);
}

} // namespace orvo
