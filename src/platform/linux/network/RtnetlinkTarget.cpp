#include "platform/linux/network/RtnetlinkTarget.h"

#include <array>
#include <cerrno>
#include <map>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QFile>

namespace orvo {
namespace {

// ARPHRD_RAWIP: the link type of modems that carry bare IP packets.
constexpr unsigned short rawIpLinkType = 519;
constexpr std::uint32_t watchedGroups =
    RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;

struct Link {
    bool up = false;
    bool wwan = false;
};

struct Route {
    int interfaceIndex = 0;
    std::uint32_t metric = 0;
    unsigned char scope = RT_SCOPE_UNIVERSE;
};

// Mobile broadband drivers name their links' device type in sysfs.
bool markedAsModem(const QString& name) {
    QFile uevent("/sys/class/net/" + name + "/uevent");
    return uevent.open(QIODevice::ReadOnly) && uevent.readAll().contains("DEVTYPE=wwan");
}

void readLink(const nlmsghdr& message, std::map<int, Link>& links) {
    if (message.nlmsg_type != RTM_NEWLINK) {
        return;
    }
    const auto* info = static_cast<const ifinfomsg*>(NLMSG_DATA(&message));
    QString name;
    int length = int(IFLA_PAYLOAD(&message));
    for (const rtattr* attribute = IFLA_RTA(info); RTA_OK(attribute, length);
         attribute = RTA_NEXT(attribute, length)) {
        if (attribute->rta_type == IFLA_IFNAME) {
            name = QString::fromUtf8(static_cast<const char*>(RTA_DATA(attribute)));
        }
    }
    links[info->ifi_index] = {(info->ifi_flags & IFF_UP) != 0,
                              info->ifi_type == rawIpLinkType || markedAsModem(name)};
}

std::optional<Route> defaultRoute(const nlmsghdr& message) {
    const auto* route = static_cast<const rtmsg*>(NLMSG_DATA(&message));
    if (message.nlmsg_type != RTM_NEWROUTE || route->rtm_dst_len != 0 ||
        route->rtm_type != RTN_UNICAST) {
        return std::nullopt;
    }
    Route found{0, 0, route->rtm_scope};
    std::uint32_t table = route->rtm_table;
    int length = int(RTM_PAYLOAD(&message));
    for (const rtattr* attribute = RTM_RTA(route); RTA_OK(attribute, length);
         attribute = RTA_NEXT(attribute, length)) {
        const auto value = *static_cast<const std::uint32_t*>(RTA_DATA(attribute));
        if (attribute->rta_type == RTA_OIF) {
            found.interfaceIndex = int(value);
        } else if (attribute->rta_type == RTA_PRIORITY) {
            found.metric = value;
        } else if (attribute->rta_type == RTA_TABLE) {
            table = value;
        }
    }
    if (table != RT_TABLE_MAIN) {
        return std::nullopt;
    }
    return found;
}

ReachabilityFlags flagsOf(const Route& route, const Link& link) {
    ReachabilityFlags flags{ReachabilityFlags::reachable};
    if (route.scope == RT_SCOPE_LINK) {
        flags.bits |= ReachabilityFlags::isDirect;
    } else if (route.scope == RT_SCOPE_HOST) {
        flags.bits |= ReachabilityFlags::isLocalAddress;
    }
    if (link.wwan) {
        flags.bits |= ReachabilityFlags::isWWAN;
    }
    return flags;
}

} // namespace

RtnetlinkTarget::~RtnetlinkTarget() {
    stopWatching();
}

std::optional<ReachabilityFlags> RtnetlinkTarget::flags() {
    std::int32_t error = 0;
    auto socket = NetlinkSocket::open(0, error);
    std::map<int, Link> links;
    std::optional<Route> best;
    if (socket) {
        error = socket->dump(RTM_GETLINK,
                             [&links](const nlmsghdr& message) { readLink(message, links); });
    }
    if (error == 0) {
        error = socket->dump(RTM_GETROUTE, [&](const nlmsghdr& message) {
            const auto route = defaultRoute(message);
            const auto link = route ? links.find(route->interfaceIndex) : links.end();
            if (link != links.end() && link->second.up && (!best || route->metric < best->metric)) {
                best = route;
            }
        });
    }
    if (error != 0) {
        lastError_ = error;
        return std::nullopt;
    }
    return best ? flagsOf(*best, links[best->interfaceIndex]) : ReachabilityFlags{};
}

bool RtnetlinkTarget::setCallback(Callback callback) {
    const std::lock_guard lock(callbackMutex_);
    callback_ = std::move(callback);
    return true;
}

bool RtnetlinkTarget::setWatching(bool watching) {
    if (!watching) {
        stopWatching();
        return true;
    }
    const std::lock_guard lock(watchMutex_);
    if (watcher_.joinable()) {
        return true;
    }
    std::int32_t error = 0;
    auto socket = NetlinkSocket::open(watchedGroups, error);
    const int stopEvent = socket ? ::eventfd(0, EFD_CLOEXEC) : -1;
    if (stopEvent < 0) {
        lastError_ = socket ? errno : error;
        return false;
    }
    stopEvent_ = stopEvent;
    watcher_ = std::thread(&RtnetlinkTarget::watch, this, std::move(*socket), stopEvent);
    return true;
}

void RtnetlinkTarget::stopWatching() {
    const std::lock_guard lock(watchMutex_);
    if (!watcher_.joinable()) {
        return;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(stopEvent_, &one, sizeof(one));
    watcher_.join();
    ::close(stopEvent_);
    stopEvent_ = -1;
}

void RtnetlinkTarget::watch(NetlinkSocket socket, int stopEvent) {
    std::array<pollfd, 2> waits{{{socket.fd(), POLLIN, 0}, {stopEvent, POLLIN, 0}}};
    for (;;) {
        if (::poll(waits.data(), waits.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            lastError_ = errno;
            return;
        }
        if (waits[1].revents != 0) {
            return;
        }
        // One reading of the whole state answers a burst of broadcasts.
        socket.drain();
        const auto current = flags();
        const std::lock_guard lock(callbackMutex_);
        if (current && callback_) {
            callback_(*current);
        }
    }
}

} // namespace orvo
