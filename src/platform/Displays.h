#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QRect>
#include <QString>

#include "platform/Port.h"

namespace orvo {

// A platform display number: the same value names a screen everywhere in the program
// (the tray's screen entries, the capture session's screen input).
using DisplayID = std::uint32_t;

struct OnScreenWindow {
    std::uint32_t windowNumber = 0;
    std::optional<QString> name; // absent when the window has no title
};

struct Screen {
    DisplayID displayID = 0;
    QRect geometry;                     // in pixels of the whole desktop
    std::optional<QString> productName; // absent when the display reports none
    // Which screen this is, the desktop asks the user when a recording starts (Wayland);
    // geometry is then unknown.
    bool chosenByDesktop = false;
};

// Windows and screens of the running desktop.
class Displays : public Port {
public:
    // Main thread. Absent when no window list can be had (no display).
    virtual std::optional<std::vector<OnScreenWindow>> onScreenWindows() = 0;
    // Main thread. Grabs one window's image and throws it away; false when it cannot.
    virtual bool captureWindowImage(std::uint32_t windowNumber) = 0;
    // Any thread. The connected screens in the platform's order; empty without a display.
    virtual std::vector<Screen> screens() = 0;
    // Any thread. Absent without a display.
    virtual std::optional<DisplayID> mainDisplayID() = 0;
};

} // namespace orvo
