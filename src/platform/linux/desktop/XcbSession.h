#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QString>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

namespace orvo {

// Replies and other blocks that xcb hands over for the caller to free().
struct XcbFree {
    void operator()(void* block) const { std::free(block); }
};
template <class T> using XcbReply = std::unique_ptr<T, XcbFree>;

struct WindowClass {
    QString instance;  // first string of WM_CLASS
    QString className; // second string of WM_CLASS
};

// One connection to the X display of the DISPLAY variable, with the EWMH atoms interned.
// Call order that matters: xcb_connect, then xcb_ewmh_init_atoms and its replies; on the way
// out xcb_ewmh_connection_wipe before xcb_disconnect. Not copyable; the connection may be
// used from one thread at a time.
class XcbSession {
public:
    // Absent without a reachable X display; fails at once when there is none.
    static std::unique_ptr<XcbSession> open();

    // Only open() can make the key: a session always starts from a working connection.
    class Key {
        friend class XcbSession;
        Key() = default;
    };
    XcbSession(Key, xcb_connection_t* connection, xcb_window_t root);
    ~XcbSession();
    XcbSession(const XcbSession&) = delete;
    XcbSession& operator=(const XcbSession&) = delete;

    xcb_connection_t* connection() const { return connection_; }
    xcb_window_t root() const { return root_; }
    xcb_ewmh_connection_t& ewmh() { return ewmh_; }
    bool hasError() const { return xcb_connection_has_error(connection_) != 0; }

    // XCB_ATOM_NONE when onlyIfExists and the server does not know the name.
    xcb_atom_t atom(const char* name, bool onlyIfExists = false);
    QString atomName(xcb_atom_t atom);

    // The raw value of a property; absent when the window lacks it or no longer exists.
    std::optional<QByteArray> property(xcb_window_t window, xcb_atom_t property,
                                       xcb_atom_t type = XCB_ATOM_ANY);
    // A 32-bit list property (windows, cardinals); absent as above.
    std::optional<std::vector<std::uint32_t>> values32(xcb_window_t window, xcb_atom_t property,
                                                       xcb_atom_t type);

    // _NET_WM_NAME, else WM_NAME; absent when the window has neither.
    std::optional<QString> windowName(xcb_window_t window);
    std::optional<WindowClass> windowClass(xcb_window_t window);
    std::optional<std::uint32_t> windowPid(xcb_window_t window);
    std::optional<xcb_window_t> activeWindow();
    // The windows a window manager lists in _NET_CLIENT_LIST, else the top-level windows.
    std::vector<xcb_window_t> clientWindows();
    bool isViewable(xcb_window_t window);

private:
    xcb_connection_t* connection_;
    xcb_window_t root_;
    xcb_ewmh_connection_t ewmh_{};
    bool ewmhReady_ = false;
};

} // namespace orvo
