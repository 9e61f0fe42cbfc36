#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include <netinet/in.h>

#include <QString>

#include "platform/Port.h"

namespace orvo {

// How a target can be reached, as bits with the values the original platform gives them.
struct ReachabilityFlags {
    static constexpr std::uint32_t transientConnection = 1U << 0;
    static constexpr std::uint32_t reachable = 1U << 1;
    static constexpr std::uint32_t connectionRequired = 1U << 2;
    static constexpr std::uint32_t connectionOnTraffic = 1U << 3;
    static constexpr std::uint32_t interventionRequired = 1U << 4;
    static constexpr std::uint32_t connectionOnDemand = 1U << 5;
    static constexpr std::uint32_t isLocalAddress = 1U << 16;
    static constexpr std::uint32_t isDirect = 1U << 17;
    static constexpr std::uint32_t isWWAN = 1U << 18;

    std::uint32_t bits = 0;

    bool has(std::uint32_t flag) const { return (bits & flag) == flag; }
    bool operator==(const ReachabilityFlags&) const = default;
};

// One watched target. Its changes arrive on a thread of the target's own, one at a time.
class ReachabilityTarget {
public:
    using Callback = std::function<void(ReachabilityFlags)>;

    ReachabilityTarget() = default;
    virtual ~ReachabilityTarget() = default;
    ReachabilityTarget(const ReachabilityTarget&) = delete;
    ReachabilityTarget& operator=(const ReachabilityTarget&) = delete;

    // Any thread; blocks while the system answers. Absent on failure (see lastError).
    virtual std::optional<ReachabilityFlags> flags() = 0;
    // Any thread. Installs the callback that receives the flags after each change of the
    // network; an empty one removes it, and once that returns no call is running any more.
    // Never call it from inside the callback. False when it cannot be installed.
    virtual bool setCallback(Callback callback) = 0;
    // Any thread. Starts (true) or ends (false) the delivery of changes; blocks until the
    // delivering thread has started or ended. False when it cannot start.
    virtual bool setWatching(bool watching) = 0;
    // Any thread. The system's code of the last failure; 0 when none.
    virtual std::int32_t lastError() const = 0;
};

// Whether the network is there, per target.
class NetworkReachability : public Port {
public:
    // Any thread. nullptr when the target cannot be made (see lastError).
    virtual std::unique_ptr<ReachabilityTarget> targetForAddress(const sockaddr_in& address) = 0;
    virtual std::unique_ptr<ReachabilityTarget> targetForHostname(const QString& hostname) = 0;
    // Any thread. The system's code of the last failed creation; 0 when none.
    virtual std::int32_t lastError() const = 0;
};

} // namespace orvo
