#pragma once

#include <optional>

#include <QObject>
#include <QString>

#include "platform/NotificationCenter.h"

namespace orvo {

// The messenger of socialIM most recently brought to the front ("Telegram.app"), absent
// until one is. Any thread; never blocks beyond a short lock.
std::optional<QString> lastActiveIM();
// Any thread. Only the watcher moves it; tests start afresh with it.
void setLastActiveIM(std::optional<QString> value);

// Keeps lastActiveIM following the front application and caches the icons of the installed
// messengers in API::iconAppsPath(). Main thread; lives as long as the program.
class ApplicationsManager : public QObject {
    Q_OBJECT
public:
    // Fills the icon cache, then starts watching. Without a workspace backend it does neither.
    explicit ApplicationsManager(QObject* parent = nullptr);

private:
    void changeActiveWindow(const NotificationCenter::Notification& notifi);
    void loadIconsIM();

    NotificationCenter::Observation observation_;
};

} // namespace orvo
