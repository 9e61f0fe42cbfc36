#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include <QString>

#include "platform/NetworkReachability.h"
#include "platform/NotificationCenter.h"

namespace orvo {

// Flag predicates: each true when its flag is set. WWAN never is on this system.
bool isReachableFlagSet(ReachabilityFlags flags);
bool isConnectionRequiredFlagSet(ReachabilityFlags flags);
bool isInterventionRequiredFlagSet(ReachabilityFlags flags);
bool isConnectionOnTrafficFlagSet(ReachabilityFlags flags);
bool isConnectionOnDemandFlagSet(ReachabilityFlags flags);
bool isConnectionOnTrafficOrDemandFlagSet(ReachabilityFlags flags);
bool isTransientConnectionFlagSet(ReachabilityFlags flags);
bool isLocalAddressFlagSet(ReachabilityFlags flags);
bool isDirectFlagSet(ReachabilityFlags flags);
bool isConnectionRequiredAndTransientFlagSet(ReachabilityFlags flags);
bool isOnWWANFlagSet(ReachabilityFlags flags);
// "WR ctiCDld" with "-" for each clear flag.
QString flagsDescription(ReachabilityFlags flags);

// Watches whether the machine can reach the network and tells of every change: through
// whenReachable / whenUnreachable and the notification reachabilityChanged (object: the
// monitor). The target delivers on its own thread; the monitor hands each real change to the
// notification queue, by default the main thread. Create, start and destroy it on one thread.
class Reachability {
public:
    enum class Connection { none, unavailable, wifi, cellular };
    enum class NetworkStatus { notReachable, reachableViaWiFi, reachableViaWWAN };
    using Listener = std::function<void(Reachability&)>;
    // Runs a step later on some thread; returns false when it cannot.
    using Queue = std::function<bool(std::function<void()>)>;

    static inline const QString reachabilityChanged = QStringLiteral("reachabilityChanged");

    // The main thread's event loop.
    static Queue mainQueue();

    // notificationQueue absent: changes are told on the target's thread.
    explicit Reachability(std::unique_ptr<ReachabilityTarget> reachabilityRef,
                          std::optional<Queue> notificationQueue = mainQueue());
    // The route to a host; throws ReachabilityError (failedToCreateWithHostname).
    explicit Reachability(const QString& hostname,
                          std::optional<Queue> notificationQueue = mainQueue());
    // The internet in general (0.0.0.0); throws ReachabilityError (failedToCreateWithAddress).
    explicit Reachability(std::optional<Queue> notificationQueue = mainQueue());
    ~Reachability();
    Reachability(const Reachability&) = delete;
    Reachability& operator=(const Reachability&) = delete;

    // Set before startNotifier; called on the notification queue.
    Listener whenReachable;
    Listener whenUnreachable;
    const bool reachableOnWWAN = true; // kept for callers that set it; not consulted
    std::atomic<bool> allowsCellularConnection = true;
    NotificationCenter* notificationCenter = &NotificationCenter::shared();
    const bool isRunningOnDevice = true;

    // Installs the callback once, then reads the flags: observers learn the first state as
    // a change. Throws ReachabilityError; a failed start leaves the notifier stopped.
    void startNotifier();
    // Blocks until no callback of the target runs any more.
    void stopNotifier();
    bool notifierRunning() const { return notifierRunning_; }

    // Any thread. Reads the flags first when none were read yet.
    Connection connection();
    // Any thread. The flags' description, or "unavailable flags".
    QString description() const;
    std::optional<ReachabilityFlags> flags() const;

private:
    // What the target's callback refers to: the monitor while it lives, nothing after.
    struct Weakifier {
        std::recursive_mutex mutex; // guards monitor; held while a change is told
        Reachability* monitor = nullptr;
    };

    static std::unique_ptr<ReachabilityTarget> targetForAddress();
    static std::unique_ptr<ReachabilityTarget> targetForHostname(const QString& hostname);
    void setReachabilityFlags();
    void setFlags(ReachabilityFlags flags);
    void tellChange();

    std::unique_ptr<ReachabilityTarget> reachabilityRef_;
    std::optional<Queue> notificationQueue_;
    std::shared_ptr<Weakifier> weakifier_;
    bool notifierRunning_ = false;
    mutable std::mutex flagsMutex_; // guards flags_
    std::optional<ReachabilityFlags> flags_;
};

// "unavailable", "No Connection", "WiFi", "Cellular".
QString toString(Reachability::Connection connection);
// "No Connection", "WiFi", "Cellular".
QString toString(Reachability::NetworkStatus status);
// The kind that the flags alone give.
Reachability::Connection connectionOf(ReachabilityFlags flags);

} // namespace orvo
