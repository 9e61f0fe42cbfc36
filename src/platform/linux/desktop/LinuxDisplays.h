#pragma once

#include <QByteArray>

#include "platform/Displays.h"

namespace orvo {

// Windows and screens of the X display named by DISPLAY, read afresh on every call through a
// connection of the call's own. A screen is a RandR monitor; its DisplayID is the monitor's
// name atom, which stays the same for the life of the X server.
class LinuxDisplays final : public Displays {
public:
    std::optional<std::vector<OnScreenWindow>> onScreenWindows() override;
    bool captureWindowImage(std::uint32_t windowNumber) override;
    std::vector<Screen> screens() override;
    std::optional<DisplayID> mainDisplayID() override;

    // The monitor name of an EDID block (descriptor 0xFC); absent when it holds none.
    static std::optional<QString> edidProductName(const QByteArray& edid);
};

} // namespace orvo
