#pragma once

#include <cstdint>
#include <functional>
#include <optional>

struct nlmsghdr;

namespace orvo {

// A route netlink socket of the kernel. Owns its descriptor; one thread at a time.
class NetlinkSocket {
public:
    // groups: the multicast groups to listen to (RTMGRP_*), 0 for requests only.
    // Absent with errno in error when the kernel refuses the socket.
    static std::optional<NetlinkSocket> open(std::uint32_t groups, std::int32_t& error);

    NetlinkSocket(NetlinkSocket&& other) noexcept;
    NetlinkSocket& operator=(NetlinkSocket&& other) noexcept;
    NetlinkSocket(const NetlinkSocket&) = delete;
    NetlinkSocket& operator=(const NetlinkSocket&) = delete;
    ~NetlinkSocket();

    int fd() const { return fd_; }

    // Asks for every object of a kind (RTM_GETLINK, RTM_GETROUTE) and hands each answer to
    // visit until the dump is complete. Blocks. 0 on success, else errno.
    std::int32_t dump(std::uint16_t type, const std::function<void(const nlmsghdr&)>& visit);

    // Reads and drops what has arrived, without waiting.
    void drain();

private:
    explicit NetlinkSocket(int fd) : fd_(fd) {}

    int fd_ = -1;
    std::uint32_t sequence_ = 0;
};

} // namespace orvo
