#pragma once

#include <memory>
#include <optional>
#include <vector>

#include <QByteArray>

#include "platform/linux/desktop/XcbSession.h"

namespace orvo::test {

// An X client of the test that plays both the applications and the window manager: it makes
// top-level windows with the properties applications set, and sets the root window's
// _NET_ACTIVE_WINDOW and _NET_CLIENT_LIST as a window manager would. Keeping its connection
// open also keeps the X server from resetting between the test's own requests. On the way out
// it takes back everything it changed.
class XTestClient {
public:
    XTestClient();
    ~XTestClient();
    XTestClient(const XTestClient&) = delete;
    XTestClient& operator=(const XTestClient&) = delete;

    bool connected() const { return session_ != nullptr; }
    XcbSession& session() { return *session_; }

    // A mapped window, once the server has handled it.
    xcb_window_t createWindow(const std::optional<QByteArray>& name,
                              const std::optional<WindowClass>& windowClass = std::nullopt,
                              std::optional<std::uint32_t> pid = std::nullopt);
    void activate(xcb_window_t window);
    void setClientList(const std::vector<xcb_window_t>& windows);
    // Waits until the server has handled every request sent so far.
    void sync();

private:
    std::unique_ptr<XcbSession> session_;
    std::vector<xcb_window_t> windows_;
};

} // namespace orvo::test
