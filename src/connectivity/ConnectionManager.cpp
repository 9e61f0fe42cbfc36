#include "connectivity/ConnectionManager.h"

#include <array>

#include "connectivity/ReachabilityError.h"
#include "shell/Logging.h"

namespace orvo {
namespace {

using Connection = Reachability::Connection;

// What notifications point to: constants that outlive every observer.
constexpr std::array<Connection, 4> connectionObjects{Connection::none, Connection::unavailable,
                                                      Connection::wifi, Connection::cellular};

const Connection* objectOf(Connection connection) {
    return &connectionObjects.at(static_cast<std::size_t>(connection));
}

void logStartFailure(const ReachabilityError& error) {
    Logging::write("Error occured while starting reachability notifications : " +
                       error.localizedDescription(),
                   EventLoging::error);
}

} // namespace

ConnectionManager::ConnectionManager() {
    // The shared centre must be built first so that it is destroyed last: the observation
    // leaves it when the shared manager goes at exit.
    NotificationCenter::shared();
}

ConnectionManager& ConnectionManager::sharedInstance() {
    static ConnectionManager instance;
    return instance;
}

std::optional<Connection>
ConnectionManager::connectionOf(const NotificationCenter::Notification& note) {
    for (const Connection& connection : connectionObjects) {
        if (note.object == &connection) {
            return connection;
        }
    }
    return std::nullopt;
}

void ConnectionManager::observeReachability() {
    observation_.reset();
    reachability_.reset();
    try {
        reachability_ = std::make_unique<Reachability>();
    } catch (const ReachabilityError& error) {
        // Nothing to start: said once, like a failed start.
        logStartFailure(error);
        return;
    }
    observation_ = reachability_->notificationCenter->addObserver(
        Reachability::reachabilityChanged, reachability_.get(),
        [this](const NotificationCenter::Notification& note) { reachabilityChanged(note); });
    try {
        reachability_->startNotifier();
    } catch (const ReachabilityError& error) {
        logStartFailure(error);
    }
}

void ConnectionManager::reachabilityChanged(const NotificationCenter::Notification& note) {
    // The monitor is the object of every reachabilityChanged.
    auto* monitor = static_cast<Reachability*>(const_cast<void*>(note.object));
    NotificationCenter::shared().post(notificationConnectionStatus,
                                      objectOf(monitor->connection()));
}

} // namespace orvo
