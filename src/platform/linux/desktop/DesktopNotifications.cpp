#include "platform/linux/desktop/DesktopNotifications.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>

namespace orvo {
namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");
const QString actionKey = QStringLiteral("orvo-action");

} // namespace

DesktopNotifications::DesktopNotifications(QObject* parent) : QObject(parent) {}

bool DesktopNotifications::notify(const QString& title, const QString& body) {
    return send(title, body, {}, nullptr);
}

bool DesktopNotifications::notify(const QString& title, const QString& body,
                                  const QString& actionLabel, std::function<void()> chosen) {
    return send(title, body, {actionKey, actionLabel}, std::move(chosen));
}

bool DesktopNotifications::send(const QString& title, const QString& body,
                                const QStringList& actions, std::function<void()> chosen) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return false;
    }
    if (chosen && !listening_) {
        // Any sender: the server that shows them may not own the well-known name for long.
        listening_ = bus.connect(QString(), path, interface, QStringLiteral("ActionInvoked"), this,
                                 SLOT(actionInvoked(uint, QString))) &&
                     bus.connect(QString(), path, interface, QStringLiteral("NotificationClosed"),
                                 this, SLOT(notificationClosed(uint, uint)));
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
    // app name, replaces id, icon, summary, body, actions, hints, timeout (-1: the server's).
    call << QCoreApplication::applicationName() << 0u << QString() << title << body << actions
         << QVariantMap() << -1;
    if (!chosen) {
        // Nobody waits for the answer: a desktop without a notification server shows none.
        return bus.send(call);
    }
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, chosen = std::move(chosen)](QDBusPendingCallWatcher* answered) {
                const QDBusPendingReply<uint> reply = *answered;
                if (!reply.isError()) {
                    waiting_[reply.value()] = chosen;
                }
                answered->deleteLater();
            });
    return true;
}

void DesktopNotifications::actionInvoked(uint id, const QString& action) {
    const auto found = waiting_.find(id);
    if (found == waiting_.end() || action != actionKey) {
        return;
    }
    const auto chosen = std::move(found->second);
    waiting_.erase(found);
    chosen();
}

void DesktopNotifications::notificationClosed(uint id, uint) {
    waiting_.erase(id);
}

} // namespace orvo
