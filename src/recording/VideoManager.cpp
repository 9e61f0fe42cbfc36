#include "recording/VideoManager.h"

#include "platform/Platform.h"
#include "shell/Localization.h"

namespace orvo {
namespace {

std::vector<Screen> namedScreens() {
    auto* displays = Platform::shared().find<Displays>();
    if (displays == nullptr) {
        return {};
    }
    std::vector<Screen> screens = displays->screens();
    std::erase_if(screens, [](const Screen& screen) { return !screen.productName; });
    return screens;
}

} // namespace

QStringList VideoManager::screenNameDevices() {
    QStringList names;
    for (const Screen& screen : namedScreens()) {
        // The desktop's dialog says which screen, when the recording starts.
        names << (screen.chosenByDesktop ? Localization::text("SCREEN_CHOSEN_BY_DESKTOP")
                                         : *screen.productName);
    }
    return names;
}

std::optional<DisplayID> VideoManager::screenDeviceID(int screenCount) {
    const std::vector<Screen> screens = namedScreens();
    if (screenCount < 0 || static_cast<std::size_t>(screenCount) >= screens.size()) {
        return std::nullopt;
    }
    return screens[static_cast<std::size_t>(screenCount)].displayID;
}

} // namespace orvo
