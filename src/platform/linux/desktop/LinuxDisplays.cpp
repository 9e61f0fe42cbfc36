#include "platform/linux/desktop/LinuxDisplays.h"

#include <xcb/randr.h>

#include "platform/linux/desktop/XcbSession.h"

namespace orvo {
namespace {

constexpr int edidBlockSize = 128;
constexpr int edidFirstDescriptor = 54;
constexpr int edidDescriptorSize = 18;
constexpr unsigned char edidMonitorNameTag = 0xFC;

struct MonitorList {
    std::vector<Screen> screens;
    std::optional<DisplayID> primary;
};

std::optional<QString> outputProductName(XcbSession& session, xcb_randr_output_t output,
                                         xcb_atom_t edidAtom) {
    xcb_connection_t* c = session.connection();
    if (edidAtom != XCB_ATOM_NONE) {
        XcbReply<xcb_randr_get_output_property_reply_t> edid(xcb_randr_get_output_property_reply(
            c, xcb_randr_get_output_property(c, output, edidAtom, XCB_ATOM_ANY, 0, 64, 0, 0),
            nullptr));
        if (edid) {
            const QByteArray bytes(
                reinterpret_cast<const char*>(xcb_randr_get_output_property_data(edid.get())),
                xcb_randr_get_output_property_data_length(edid.get()));
            if (auto name = LinuxDisplays::edidProductName(bytes)) {
                return name;
            }
        }
    }
    XcbReply<xcb_randr_get_output_info_reply_t> info(xcb_randr_get_output_info_reply(
        c, xcb_randr_get_output_info(c, output, XCB_CURRENT_TIME), nullptr));
    if (!info || xcb_randr_get_output_info_name_length(info.get()) == 0) {
        return std::nullopt;
    }
    return QString::fromUtf8(
        reinterpret_cast<const char*>(xcb_randr_get_output_info_name(info.get())),
        xcb_randr_get_output_info_name_length(info.get()));
}

// RandR 1.5 monitors; absent when the server has no such extension.
std::optional<MonitorList> randrMonitors(XcbSession& session) {
    xcb_connection_t* c = session.connection();
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_randr_id);
    if (extension == nullptr || extension->present == 0) {
        return std::nullopt;
    }
    XcbReply<xcb_randr_query_version_reply_t> version(
        xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
    if (!version || version->major_version < 1 ||
        (version->major_version == 1 && version->minor_version < 5)) {
        return std::nullopt;
    }
    XcbReply<xcb_randr_get_monitors_reply_t> reply(
        xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, session.root(), 1), nullptr));
    if (!reply) {
        return std::nullopt;
    }
    const xcb_atom_t edidAtom = session.atom("EDID", true);
    MonitorList list;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
         xcb_randr_monitor_info_next(&it)) {
        const xcb_randr_monitor_info_t* monitor = it.data;
        Screen screen;
        screen.displayID = monitor->name;
        screen.geometry = QRect(monitor->x, monitor->y, monitor->width, monitor->height);
        const xcb_randr_output_t* outputs = xcb_randr_monitor_info_outputs(monitor);
        const int outputCount = xcb_randr_monitor_info_outputs_length(monitor);
        for (int i = 0; i < outputCount && !screen.productName; ++i) {
            screen.productName = outputProductName(session, outputs[i], edidAtom);
        }
        if (!screen.productName) {
            // A monitor made by hand without outputs is known by its own name only.
            const QString name = session.atomName(monitor->name);
            if (!name.isEmpty()) {
                screen.productName = name;
            }
        }
        if (monitor->primary != 0 && !list.primary) {
            list.primary = screen.displayID;
        }
        list.screens.push_back(std::move(screen));
    }
    return list;
}

MonitorList readScreens() {
    auto session = XcbSession::open();
    if (!session) {
        return {};
    }
    if (auto monitors = randrMonitors(*session); monitors && !monitors->screens.empty()) {
        return *monitors;
    }
    // Without RandR the X screen is the one display; its root window names it.
    auto roots = xcb_setup_roots_iterator(xcb_get_setup(session->connection()));
    for (; roots.rem > 0; xcb_screen_next(&roots)) {
        if (roots.data->root == session->root()) {
            Screen screen;
            screen.displayID = roots.data->root;
            screen.geometry =
                QRect(0, 0, roots.data->width_in_pixels, roots.data->height_in_pixels);
            return {{screen}, screen.displayID};
        }
    }
    return {};
}

} // namespace

std::optional<QString> LinuxDisplays::edidProductName(const QByteArray& edid) {
    static const QByteArray header("\x00\xff\xff\xff\xff\xff\xff\x00", 8);
    if (edid.size() < edidBlockSize || !edid.startsWith(header)) {
        return std::nullopt;
    }
    for (int d = 0; d < 4; ++d) {
        const int at = edidFirstDescriptor + d * edidDescriptorSize;
        const auto byte = [&](int i) { return static_cast<unsigned char>(edid[at + i]); };
        if (byte(0) != 0 || byte(1) != 0 || byte(2) != 0 || byte(3) != edidMonitorNameTag) {
            continue;
        }
        // Up to 13 characters, ended by a line feed and padded with spaces.
        QByteArray text = edid.mid(at + 5, 13);
        if (const int end = text.indexOf('\n'); end >= 0) {
            text.truncate(end);
        }
        const QString name = QString::fromLatin1(text).trimmed();
        if (!name.isEmpty()) {
            return name;
        }
    }
    return std::nullopt;
}

std::optional<std::vector<OnScreenWindow>> LinuxDisplays::onScreenWindows() {
    auto session = XcbSession::open();
    if (!session) {
        return std::nullopt;
    }
    std::vector<OnScreenWindow> windows;
    for (xcb_window_t window : session->clientWindows()) {
        if (session->isViewable(window)) {
            windows.push_back({window, session->windowName(window)});
        }
    }
    if (session->hasError()) {
        return std::nullopt;
    }
    return windows;
}

bool LinuxDisplays::captureWindowImage(std::uint32_t windowNumber) {
    auto session = XcbSession::open();
    if (!session) {
        return false;
    }
    xcb_connection_t* c = session->connection();
    XcbReply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, windowNumber), nullptr));
    if (!geometry || geometry->width == 0 || geometry->height == 0) {
        return false;
    }
    XcbReply<xcb_get_image_reply_t> image(
        xcb_get_image_reply(c,
                            xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, windowNumber, 0, 0,
                                          geometry->width, geometry->height, ~0u),
                            nullptr));
    return image != nullptr;
}

std::vector<Screen> LinuxDisplays::screens() {
    return readScreens().screens;
}

std::optional<DisplayID> LinuxDisplays::mainDisplayID() {
    const MonitorList list = readScreens();
    if (list.primary) {
        return list.primary;
    }
    if (list.screens.empty()) {
        return std::nullopt;
    }
    return list.screens.front().displayID;
}

} // namespace orvo
