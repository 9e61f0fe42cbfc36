#pragma once

#include <atomic>

#include "platform/NetworkReachability.h"

namespace orvo {

// Reachability from the kernel's routing table. Every target, an address or a host name,
// asks the same question: is there a way out of the machine (see RtnetlinkTarget).
class LinuxNetworkReachability final : public NetworkReachability {
public:
    std::unique_ptr<ReachabilityTarget> targetForAddress(const sockaddr_in& address) override;
    std::unique_ptr<ReachabilityTarget> targetForHostname(const QString& hostname) override;
    std::int32_t lastError() const override { return lastError_; }

private:
    std::atomic<std::int32_t> lastError_ = 0;
};

} // namespace orvo
