#include "shell/SettingsManager.h"

#include <filesystem>
#include <memory>
#include <system_error>

#include <QFile>
#include <QSaveFile>
#include <plist/plist++.h>

#include "shell/API.h"
#include "shell/Bundle.h"
#include "shell/Console.h"

namespace orvo {
namespace {

// The whole file as a dictionary, or nothing when it cannot be read or is something else.
std::unique_ptr<PList::Dictionary> loadDictionary() {
    QFile file(API::settingsPath());
    if (!file.open(QIODevice::ReadOnly)) {
        return nullptr;
    }
    const QByteArray data = file.readAll();
    if (data.isEmpty()) {
        return nullptr;
    }
    plist_t root = nullptr;
    plist_from_memory(data.constData(), uint32_t(data.size()), &root);
    if (root == nullptr) {
        return nullptr;
    }
    if (plist_get_node_type(root) != PLIST_DICT) {
        plist_free(root);
        return nullptr;
    }
    // The wrapper takes ownership of root.
    return std::make_unique<PList::Dictionary>(root);
}

// Temporary file in the same folder, then rename: readers see the old or the new file.
bool saveAtomically(const PList::Dictionary& dictionary) {
    const std::string xml = dictionary.ToXml();
    QSaveFile file(API::settingsPath());
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    file.write(xml.data(), qint64(xml.size()));
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
    const auto dictionary = loadDictionary();
    if (!dictionary) {
        return {};
    }
    const auto entry = dictionary->Find(key.toStdString());
    if (entry == dictionary->End()) {
        return {};
    }
    const auto* string = dynamic_cast<const PList::String*>(entry->second);
    return string == nullptr ? QString() : QString::fromStdString(string->GetValue());
}

void SettingsManager::writeValueSetting(const QString& value, const QString& key) {
    createSettingFile();
    if (auto dictionary = loadDictionary()) {
        dictionary->Set(key.toStdString(), PList::String(value.toStdString()));
        saveAtomically(*dictionary);
    }
    consoleLine("Set setting " + key + ": " + value);
}

} // namespace orvo
