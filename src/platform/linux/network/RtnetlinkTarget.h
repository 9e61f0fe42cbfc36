#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/NetworkReachability.h"
#include "platform/linux/network/NetlinkSocket.h"

namespace orvo {

// The internet in general as the kernel's routing sees it: reachable when a default route
// leads through an interface that is up. A route without a gateway (link scope) is direct,
// one to the machine itself (host scope) a local address. Wired and wireless links are the
// same here; a link the kernel marks as a mobile modem is WWAN. Changes of links, addresses
// and routes arrive as rtnetlink broadcasts on a thread of the target's own.
class RtnetlinkTarget final : public ReachabilityTarget {
public:
    RtnetlinkTarget() = default;
    ~RtnetlinkTarget() override;

    std::optional<ReachabilityFlags> flags() override;
    bool setCallback(Callback callback) override;
    bool setWatching(bool watching) override;
    std::int32_t lastError() const override { return lastError_; }

private:
    void watch(NetlinkSocket socket, int stopEvent);
    void stopWatching();

    std::atomic<std::int32_t> lastError_ = 0;
    std::mutex callbackMutex_; // guards callback_, held while it runs
    Callback callback_;
    std::mutex watchMutex_; // guards watcher_ and stopEvent_
    std::thread watcher_;
    int stopEvent_ = -1; // eventfd that ends the watcher
};

} // namespace orvo
