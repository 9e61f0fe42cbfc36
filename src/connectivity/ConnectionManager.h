#pragma once

#include <memory>
#include <optional>

#include <QString>

#include "connectivity/Reachability.h"
#include "platform/NotificationCenter.h"

namespace orvo {

// Owns the monitor of the internet in general and re-posts each of its changes on the
// default centre as notificationConnectionStatus, on the main thread. The notification's
// object points to the new Reachability::Connection (read it with connectionOf). Main thread.
class ConnectionManager {
public:
    static inline const QString notificationConnectionStatus =
        QStringLiteral("notificationConnectionStatus");

    // The program's one manager, for the life of the process.
    static ConnectionManager& sharedInstance();

    // The connection a notificationConnectionStatus carries; absent for any other object.
    static std::optional<Reachability::Connection>
    connectionOf(const NotificationCenter::Notification& note);

    ConnectionManager();
    ConnectionManager(const ConnectionManager&) = delete;
    ConnectionManager& operator=(const ConnectionManager&) = delete;

    // Creates and starts the monitor. A failure is written to the technical log; then no
    // notification comes.
    void observeReachability();
    void reachabilityChanged(const NotificationCenter::Notification& note);

    Reachability* reachability() const { return reachability_.get(); }

private:
    // Declared before the monitor: the observation ends after the monitor has stopped.
    NotificationCenter::Observation observation_;
    std::unique_ptr<Reachability> reachability_;
};

} // namespace orvo
