#include "integration/recording/XTestClient.h"

#include <QString>

namespace orvo::test {

XTestClient::XTestClient() : session_(XcbSession::open()) {}

XTestClient::~XTestClient() {
    if (!session_) {
        return;
    }
    xcb_connection_t* c = session_->connection();
    xcb_delete_property(c, session_->root(), session_->ewmh()._NET_ACTIVE_WINDOW);
    xcb_delete_property(c, session_->root(), session_->ewmh()._NET_CLIENT_LIST);
    for (xcb_window_t window : windows_) {
        xcb_destroy_window(c, window);
    }
    sync();
}

xcb_window_t XTestClient::createWindow(const std::optional<QByteArray>& name,
                                       const std::optional<WindowClass>& windowClass,
                                       std::optional<std::uint32_t> pid) {
    xcb_connection_t* c = session_->connection();
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, session_->root(), 0, 0, 200, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    if (name) {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, session_->ewmh()._NET_WM_NAME,
                            session_->ewmh().UTF8_STRING, 8, name->size(), name->constData());
    }
    if (windowClass) {
        const QByteArray value =
            windowClass->instance.toLatin1() + '\0' + windowClass->className.toLatin1() + '\0';
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                            value.size(), value.constData());
    }
    if (pid) {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, session_->ewmh()._NET_WM_PID,
                            XCB_ATOM_CARDINAL, 32, 1, &*pid);
    }
    xcb_map_window(c, window);
    windows_.push_back(window);
    sync();
    return window;
}

void XTestClient::activate(xcb_window_t window) {
    xcb_change_property(session_->connection(), XCB_PROP_MODE_REPLACE, session_->root(),
                        session_->ewmh()._NET_ACTIVE_WINDOW, XCB_ATOM_WINDOW, 32, 1, &window);
    sync();
}

void XTestClient::setClientList(const std::vector<xcb_window_t>& windows) {
    xcb_change_property(session_->connection(), XCB_PROP_MODE_REPLACE, session_->root(),
                        session_->ewmh()._NET_CLIENT_LIST, XCB_ATOM_WINDOW, 32,
                        static_cast<std::uint32_t>(windows.size()), windows.data());
    sync();
}

void XTestClient::sync() {
    xcb_connection_t* c = session_->connection();
    XcbReply<xcb_get_input_focus_reply_t> reply(
        xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

} // namespace orvo::test
