#pragma once

#include <cstdint>
#include <functional>
#include <map>

#include <QObject>
#include <QString>

namespace orvo {

// Desktop notifications over the session bus (org.freedesktop.Notifications), passing ones and
// ones with an action the user can choose. Main thread.
class DesktopNotifications : public QObject {
    Q_OBJECT
public:
    explicit DesktopNotifications(QObject* parent = nullptr);

    // False when there is no session bus to ask.
    bool notify(const QString& title, const QString& body);
    // chosen runs on the main thread if the user chooses the action; never where the desktop
    // shows no actions, or once the notification is closed.
    bool notify(const QString& title, const QString& body, const QString& actionLabel,
                std::function<void()> chosen);

private slots:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

private:
    bool send(const QString& title, const QString& body, const QStringList& actions,
              std::function<void()> chosen);

    bool listening_ = false;
    std::map<std::uint32_t, std::function<void()>> waiting_;
};

} // namespace orvo
