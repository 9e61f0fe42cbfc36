#include "recording/ApplicationsManager.h"

#include <algorithm>
#include <mutex>

#include <QFileInfo>
#include <QSaveFile>

#include "platform/Platform.h"
#include "platform/Workspace.h"
#include "shell/API.h"
#include "shell/Formatting.h"

namespace orvo {
namespace {

std::mutex lastActiveMutex; // guards lastActiveValue
std::optional<QString> lastActiveValue;

// The rule of saveIamge (ui), which this layer cannot reach: an existing file is kept, a
// missing bitmap writes nothing, failures are silent.
void saveIconPng(const std::optional<QByteArray>& png, const QString& path) {
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink() || !png || png->isEmpty()) {
        return;
    }
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(*png) == png->size()) {
        file.commit();
    }
}

} // namespace

std::optional<QString> lastActiveIM() {
    std::lock_guard lock(lastActiveMutex);
    return lastActiveValue;
}

void setLastActiveIM(std::optional<QString> value) {
    std::lock_guard lock(lastActiveMutex);
    lastActiveValue = std::move(value);
}

ApplicationsManager::ApplicationsManager(QObject* parent) : QObject(parent) {
    auto* workspace = Platform::shared().find<Workspace>();
    if (workspace == nullptr) {
        return;
    }
    loadIconsIM();
    observation_ = workspace->notificationCenter().addObserver(
        Workspace::didActivateApplicationNotification, nullptr,
        [this](const NotificationCenter::Notification& notifi) { changeActiveWindow(notifi); });
}

void ApplicationsManager::changeActiveWindow(const NotificationCenter::Notification& notifi) {
    const QVariant value = notifi.userInfo.value(Workspace::applicationKey);
    if (value.metaType() != QMetaType::fromType<RunningApplication>()) {
        return;
    }
    const auto application = value.value<RunningApplication>();
    const QString candidate = application.localizedName.value_or(QString()) + ".app";
    const QStringList& messengers = API::socialIM();
    // Exact, case-sensitive: a localised name that differs from the bundle name never matches.
    if (const auto it = std::find(messengers.begin(), messengers.end(), candidate);
        it != messengers.end()) {
        setLastActiveIM(*it);
    }
}

void ApplicationsManager::loadIconsIM() {
    auto& workspace = Platform::shared().get<Workspace>();
    for (const QString& folder : workspace.applicationFolders()) {
        const auto items = workspace.applicationItems(folder);
        if (!items) {
            continue;
        }
        for (const ApplicationItem& item : *items) {
            if (!item.name || !API::socialIM().contains(*item.name)) {
                continue;
            }
            const QString path = API::iconAppsPath() + "/" + MD5(*item.name) + ".png";
            // A cached icon is never refreshed, so it is not even looked up.
            if (!QFileInfo::exists(path)) {
                saveIconPng(workspace.iconForFile(item.path), path);
            }
        }
    }
}

} // namespace orvo
