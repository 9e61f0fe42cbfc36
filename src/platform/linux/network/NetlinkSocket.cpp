#include "platform/linux/network/NetlinkSocket.h"

#include <array>
#include <cerrno>
#include <utility>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orvo {
namespace {

constexpr std::size_t receiveBufferSize = 32768;

} // namespace

std::optional<NetlinkSocket> NetlinkSocket::open(std::uint32_t groups, std::int32_t& error) {
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) {
        error = errno;
        return std::nullopt;
    }
    NetlinkSocket socket(fd);
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = groups;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
        error = errno;
        return std::nullopt;
    }
    return socket;
}

NetlinkSocket::NetlinkSocket(NetlinkSocket&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), sequence_(other.sequence_) {}

NetlinkSocket& NetlinkSocket::operator=(NetlinkSocket&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
        sequence_ = other.sequence_;
    }
    return *this;
}

NetlinkSocket::~NetlinkSocket() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::int32_t NetlinkSocket::dump(std::uint16_t type,
                                 const std::function<void(const nlmsghdr&)>& visit) {
    // rtmsg starts with the family, as every request header of route netlink does.
    struct {
        nlmsghdr header;
        rtmsg body;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    request.header.nlmsg_type = type;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = ++sequence_;
    request.body.rtm_family = AF_UNSPEC;
    if (::send(fd_, &request, request.header.nlmsg_len, 0) < 0) {
        return errno;
    }
    std::array<char, receiveBufferSize> buffer{};
    for (;;) {
        const ssize_t received = ::recv(fd_, buffer.data(), buffer.size(), 0);
        if (received < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        auto length = static_cast<unsigned int>(received);
        for (auto* message = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(message, length);
             message = NLMSG_NEXT(message, length)) {
            if (message->nlmsg_seq != sequence_) {
                continue; // a broadcast that came in between
            }
            if (message->nlmsg_type == NLMSG_DONE) {
                return 0;
            }
            if (message->nlmsg_type == NLMSG_ERROR) {
                const auto* failure = static_cast<const nlmsgerr*>(NLMSG_DATA(message));
                return failure->error == 0 ? 0 : -failure->error;
            }
            visit(*message);
        }
    }
}

void NetlinkSocket::drain() {
    std::array<char, receiveBufferSize> buffer{};
    for (;;) {
        if (::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT) > 0) {
            continue;
        }
        // An overflow only says that events were lost: the caller reads the state afresh.
        if (errno != EINTR && errno != ENOBUFS) {
            return;
        }
    }
}

} // namespace orvo
