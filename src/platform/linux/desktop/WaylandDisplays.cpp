#include "platform/linux/desktop/WaylandDisplays.h"

#include <QtGlobal>

namespace orvo {

bool WaylandDisplays::isWaylandSession() {
    return qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

std::vector<Screen> WaylandDisplays::screens() {
    Screen screen;
    screen.displayID = chosenScreen;
    screen.productName = QStringLiteral("Screen…");
    screen.chosenByDesktop = true;
    return {screen};
}

} // namespace orvo
