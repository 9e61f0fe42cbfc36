#include "platform/linux/network/LinuxNetworkReachability.h"

#include <cerrno>

#include "platform/linux/network/RtnetlinkTarget.h"

namespace orvo {

std::unique_ptr<ReachabilityTarget>
LinuxNetworkReachability::targetForAddress(const sockaddr_in& address) {
    if (address.sin_family != AF_INET) {
        lastError_ = EAFNOSUPPORT;
        return nullptr;
    }
    return std::make_unique<RtnetlinkTarget>();
}

std::unique_ptr<ReachabilityTarget>
LinuxNetworkReachability::targetForHostname(const QString& hostname) {
    if (hostname.isEmpty()) {
        lastError_ = EINVAL;
        return nullptr;
    }
    return std::make_unique<RtnetlinkTarget>();
}

} // namespace orvo
