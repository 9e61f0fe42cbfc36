#include "connectivity/Reachability.h"

#include <cerrno>

#include "connectivity/ReachabilityError.h"
#include "platform/MainThread.h"
#include "platform/Platform.h"

namespace orvo {

bool isReachableFlagSet(ReachabilityFlags flags) {
    return flags.has(ReachabilityFlags::reachable);
}
bool isConnectionRequiredFlagSet(ReachabilityFlags flags) {
    return flags.has(ReachabilityFlags::connectionRequired);
}
bool isInterventionRequiredFlagSet(ReachabilityFlags flags) {
    return flags.has(ReachabilityFlags::interventionRequired);
}
bool isConnectionOnTrafficFlagSet(ReachabilityFlags flags) {
    return flags.has(ReachabilityFlags::connectionOnTraffic);
}
bool isConnectionOnDemandFlagSet(ReachabilityFlags flags) {
    return flags.has(ReachabilityFlags::connectionOnDemand);
}
bool isConnectionOnTrafficOrDemandFlagSet(ReachabilityFlags flags) {
    return isConnectionOnTrafficFlagSet(flags) || isConnectionOnDemandFlagSet(flags);
}
bool isTransientConnectionFlagSet(ReachabilityFlags flags) {
    return flags.has(ReachabilityFlags::transientConnection);
}
bool isLocalAddressFlagSet(ReachabilityFlags flags) {
    return flags.has(ReachabilityFlags::isLocalAddress);
}
bool isDirectFlagSet(ReachabilityFlags flags) {
    return flags.has(ReachabilityFlags::isDirect);
}
bool isConnectionRequiredAndTransientFlagSet(ReachabilityFlags flags) {
    return isConnectionRequiredFlagSet(flags) && isTransientConnectionFlagSet(flags);
}
bool isOnWWANFlagSet(ReachabilityFlags flags) {
    return flags.has(ReachabilityFlags::isWWAN);
}

QString flagsDescription(ReachabilityFlags flags) {
    const auto letter = [](bool set, char c) { return QChar(set ? c : '-'); };
    QString text;
    text += letter(isOnWWANFlagSet(flags), 'W');
    text += letter(isReachableFlagSet(flags), 'R');
    text += ' ';
    text += letter(isConnectionRequiredFlagSet(flags), 'c');
    text += letter(isTransientConnectionFlagSet(flags), 't');
    text += letter(isInterventionRequiredFlagSet(flags), 'i');
    text += letter(isConnectionOnTrafficFlagSet(flags), 'C');
    text += letter(isConnectionOnDemandFlagSet(flags), 'D');
    text += letter(isLocalAddressFlagSet(flags), 'l');
    text += letter(isDirectFlagSet(flags), 'd');
    return text;
}

Reachability::Connection connectionOf(ReachabilityFlags flags) {
    using Connection = Reachability::Connection;
    if (!isReachableFlagSet(flags)) {
        return Connection::unavailable;
    }
    Connection connection = Connection::unavailable;
    if (!isConnectionRequiredFlagSet(flags)) {
        connection = Connection::wifi;
    }
    if (isConnectionOnTrafficOrDemandFlagSet(flags) && !isInterventionRequiredFlagSet(flags)) {
        connection = Connection::wifi;
    }
    if (isOnWWANFlagSet(flags)) {
        connection = Connection::cellular;
    }
    return connection;
}

QString toString(Reachability::Connection connection) {
    switch (connection) {
    case Reachability::Connection::none:
        return QStringLiteral("unavailable");
    case Reachability::Connection::unavailable:
        return QStringLiteral("No Connection");
    case Reachability::Connection::wifi:
        return QStringLiteral("WiFi");
    case Reachability::Connection::cellular:
        return QStringLiteral("Cellular");
    }
    return {};
}

QString toString(Reachability::NetworkStatus status) {
    switch (status) {
    case Reachability::NetworkStatus::notReachable:
        return QStringLiteral("No Connection");
    case Reachability::NetworkStatus::reachableViaWiFi:
        return QStringLiteral("WiFi");
    case Reachability::NetworkStatus::reachableViaWWAN:
        return QStringLiteral("Cellular");
    }
    return {};
}

Reachability::Queue Reachability::mainQueue() {
    return [](std::function<void()> step) { return dispatchToMain(std::move(step)); };
}

Reachability::Reachability(std::unique_ptr<ReachabilityTarget> reachabilityRef,
                           std::optional<Queue> notificationQueue)
    : reachabilityRef_(std::move(reachabilityRef)),
      notificationQueue_(std::move(notificationQueue)), weakifier_(std::make_shared<Weakifier>()) {
    weakifier_->monitor = this;
}

Reachability::Reachability(const QString& hostname, std::optional<Queue> notificationQueue)
    : Reachability(targetForHostname(hostname), std::move(notificationQueue)) {}

Reachability::Reachability(std::optional<Queue> notificationQueue)
    : Reachability(targetForAddress(), std::move(notificationQueue)) {}

Reachability::~Reachability() {
    stopNotifier();
    const std::lock_guard lock(weakifier_->mutex);
    weakifier_->monitor = nullptr;
}

std::unique_ptr<ReachabilityTarget> Reachability::targetForAddress() {
    auto* port = Platform::shared().find<NetworkReachability>();
    // The all-zero IPv4 address stands for the internet in general.
    sockaddr_in address{};
    address.sin_family = AF_INET;
    auto target = port ? port->targetForAddress(address) : nullptr;
    if (!target) {
        throw ReachabilityError(ReachabilityError::Kind::failedToCreateWithAddress,
                                port ? port->lastError() : ENOSYS, QStringLiteral("0.0.0.0"));
    }
    return target;
}

std::unique_ptr<ReachabilityTarget> Reachability::targetForHostname(const QString& hostname) {
    auto* port = Platform::shared().find<NetworkReachability>();
    auto target = port ? port->targetForHostname(hostname) : nullptr;
    if (!target) {
        throw ReachabilityError(ReachabilityError::Kind::failedToCreateWithHostname,
                                port ? port->lastError() : ENOSYS, hostname);
    }
    return target;
}

void Reachability::startNotifier() {
    if (notifierRunning_) {
        return;
    }
    const bool installed =
        reachabilityRef_->setCallback([weak = weakifier_](ReachabilityFlags flags) {
            const std::lock_guard lock(weak->mutex);
            if (weak->monitor != nullptr) {
                weak->monitor->setFlags(flags);
            }
        });
    if (!installed) {
        stopNotifier();
        throw ReachabilityError(ReachabilityError::Kind::unableToSetCallback,
                                reachabilityRef_->lastError());
    }
    if (!reachabilityRef_->setWatching(true)) {
        stopNotifier();
        throw ReachabilityError(ReachabilityError::Kind::unableToSetDispatchQueue,
                                reachabilityRef_->lastError());
    }
    setReachabilityFlags();
    notifierRunning_ = true;
}

void Reachability::stopNotifier() {
    reachabilityRef_->setWatching(false);
    reachabilityRef_->setCallback({});
    notifierRunning_ = false;
}

Reachability::Connection Reachability::connection() {
    if (!flags()) {
        try {
            setReachabilityFlags();
        } catch (const ReachabilityError&) {
            return Connection::unavailable;
        }
    }
    const auto current = flags();
    const Connection kind = current ? connectionOf(*current) : Connection::unavailable;
    if (kind == Connection::cellular && !allowsCellularConnection) {
        return Connection::unavailable;
    }
    return kind == Connection::none ? Connection::unavailable : kind;
}

QString Reachability::description() const {
    const auto current = flags();
    return current ? flagsDescription(*current) : QStringLiteral("unavailable flags");
}

std::optional<ReachabilityFlags> Reachability::flags() const {
    const std::lock_guard lock(flagsMutex_);
    return flags_;
}

void Reachability::setReachabilityFlags() {
    const auto current = reachabilityRef_->flags();
    if (!current) {
        stopNotifier();
        throw ReachabilityError(ReachabilityError::Kind::unableToGetFlags,
                                reachabilityRef_->lastError());
    }
    setFlags(*current);
}

void Reachability::setFlags(ReachabilityFlags flags) {
    {
        const std::lock_guard lock(flagsMutex_);
        if (flags_ == flags) {
            return;
        }
        flags_ = flags;
    }
    tellChange();
}

void Reachability::tellChange() {
    auto step = [weak = weakifier_] {
        const std::lock_guard lock(weak->mutex);
        Reachability* monitor = weak->monitor;
        if (monitor == nullptr) {
            return;
        }
        const Listener& listener = monitor->connection() != Connection::unavailable
                                       ? monitor->whenReachable
                                       : monitor->whenUnreachable;
        if (listener) {
            listener(*monitor);
        }
        monitor->notificationCenter->post(reachabilityChanged, monitor);
    };
    if (notificationQueue_) {
        (*notificationQueue_)(std::move(step));
    } else {
        step();
    }
}

} // namespace orvo
