#include "platform/linux/desktop/XcbSession.h"

#include <cstring>

#include <QList>

namespace orvo {
namespace {
// Enough for any title or window list; counted in 32-bit units.
constexpr std::uint32_t maxPropertyLongs = 1u << 20;
} // namespace

std::unique_ptr<XcbSession> XcbSession::open() {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection) != 0) {
        xcb_disconnect(connection);
        return nullptr;
    }
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) {
        xcb_screen_next(&screens);
    }
    if (screens.rem == 0) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::make_unique<XcbSession>(Key(), connection, screens.data->root);
}

XcbSession::XcbSession(Key, xcb_connection_t* connection, xcb_window_t root)
    : connection_(connection), root_(root) {
    xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(connection_, &ewmh_);
    ewmhReady_ = cookies != nullptr && xcb_ewmh_init_atoms_replies(&ewmh_, cookies, nullptr) != 0;
}

XcbSession::~XcbSession() {
    if (ewmhReady_) {
        xcb_ewmh_connection_wipe(&ewmh_);
    }
    xcb_disconnect(connection_);
}

xcb_atom_t XcbSession::atom(const char* name, bool onlyIfExists) {
    auto cookie = xcb_intern_atom(connection_, onlyIfExists ? 1 : 0,
                                  static_cast<std::uint16_t>(std::strlen(name)), name);
    XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection_, cookie, nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

QString XcbSession::atomName(xcb_atom_t atom) {
    XcbReply<xcb_get_atom_name_reply_t> reply(
        xcb_get_atom_name_reply(connection_, xcb_get_atom_name(connection_, atom), nullptr));
    if (!reply) {
        return {};
    }
    return QString::fromUtf8(xcb_get_atom_name_name(reply.get()),
                             xcb_get_atom_name_name_length(reply.get()));
}

std::optional<QByteArray> XcbSession::property(xcb_window_t window, xcb_atom_t property,
                                               xcb_atom_t type) {
    if (property == XCB_ATOM_NONE) {
        return std::nullopt;
    }
    auto cookie = xcb_get_property(connection_, 0, window, property, type, 0, maxPropertyLongs);
    XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection_, cookie, nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE) {
        return std::nullopt;
    }
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                      xcb_get_property_value_length(reply.get()));
}

std::optional<std::vector<std::uint32_t>>
XcbSession::values32(xcb_window_t window, xcb_atom_t property, xcb_atom_t type) {
    const auto bytes = this->property(window, property, type);
    if (!bytes) {
        return std::nullopt;
    }
    std::vector<std::uint32_t> values(bytes->size() / sizeof(std::uint32_t));
    std::memcpy(values.data(), bytes->constData(), values.size() * sizeof(std::uint32_t));
    return values;
}

std::optional<QString> XcbSession::windowName(xcb_window_t window) {
    if (ewmhReady_) {
        if (auto name = property(window, ewmh_._NET_WM_NAME)) {
            return QString::fromUtf8(*name);
        }
    }
    if (auto name = property(window, XCB_ATOM_WM_NAME)) {
        // STRING is Latin-1; COMPOUND_TEXT of plain titles reads the same.
        return QString::fromLatin1(*name);
    }
    return std::nullopt;
}

std::optional<WindowClass> XcbSession::windowClass(xcb_window_t window) {
    const auto raw = property(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING);
    if (!raw) {
        return std::nullopt;
    }
    const QList<QByteArray> parts = raw->split('\0');
    WindowClass result;
    result.instance = QString::fromLatin1(parts.value(0));
    result.className = QString::fromLatin1(parts.value(1));
    return result;
}

std::optional<std::uint32_t> XcbSession::windowPid(xcb_window_t window) {
    if (!ewmhReady_) {
        return std::nullopt;
    }
    const auto pid = values32(window, ewmh_._NET_WM_PID, XCB_ATOM_CARDINAL);
    if (!pid || pid->empty() || pid->front() == 0) {
        return std::nullopt;
    }
    return pid->front();
}

std::optional<xcb_window_t> XcbSession::activeWindow() {
    if (!ewmhReady_) {
        return std::nullopt;
    }
    const auto active = values32(root_, ewmh_._NET_ACTIVE_WINDOW, XCB_ATOM_WINDOW);
    if (!active || active->empty() || active->front() == XCB_WINDOW_NONE) {
        return std::nullopt;
    }
    return active->front();
}

std::vector<xcb_window_t> XcbSession::clientWindows() {
    if (ewmhReady_) {
        if (auto clients = values32(root_, ewmh_._NET_CLIENT_LIST, XCB_ATOM_WINDOW)) {
            return {clients->begin(), clients->end()};
        }
    }
    // No window manager keeps a list: the children of the root that ask for none.
    XcbReply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root_), nullptr));
    std::vector<xcb_window_t> windows;
    if (!tree) {
        return windows;
    }
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    for (int i = 0; i < count; ++i) {
        XcbReply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
            connection_, xcb_get_window_attributes(connection_, children[i]), nullptr));
        if (attributes && attributes->override_redirect == 0) {
            windows.push_back(children[i]);
        }
    }
    return windows;
}

bool XcbSession::isViewable(xcb_window_t window) {
    XcbReply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
        connection_, xcb_get_window_attributes(connection_, window), nullptr));
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
}

} // namespace orvo
