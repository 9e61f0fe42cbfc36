#pragma once

#include "platform/Displays.h"

namespace orvo {

// The screens of a Wayland session, where a program neither sees the other programs' windows
// nor picks a screen itself: one screen, the one that the desktop's screen-cast portal lets
// the user choose when a recording starts.
class WaylandDisplays final : public Displays {
public:
    static constexpr DisplayID chosenScreen = 1;

    // Whether the desktop session is a Wayland one, whatever Qt itself runs on.
    static bool isWaylandSession();

    std::optional<std::vector<OnScreenWindow>> onScreenWindows() override { return std::nullopt; }
    bool captureWindowImage(std::uint32_t) override { return false; }
    std::vector<Screen> screens() override;
    std::optional<DisplayID> mainDisplayID() override { return chosenScreen; }
};

} // namespace orvo
