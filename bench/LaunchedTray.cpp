#include "LaunchedTray.h"

#include <cstdio>

#include <QAction>
#include <QMenu>

#include "app/AppDelegate.h"
#include "app/Backends.h"
#include "platform/Platform.h"
#include "platform/linux/sound/LinuxAudioHardware.h"
#include "tray/OrvoMenuTray.h"

namespace orvo {

LaunchedTray::LaunchedTray() = default;
LaunchedTray::LaunchedTray(LaunchedTray&&) noexcept = default;
LaunchedTray& LaunchedTray::operator=(LaunchedTray&&) noexcept = default;

LaunchedTray::~LaunchedTray() {
    if (delegate) {
        delegate.reset();
        Platform::shared().clear();
    }
}

std::optional<LaunchedTray> LaunchedTray::launch() {
    LinuxAudioHardware::Options options;
    options.driverRoot = qEnvironmentVariable("ORVO_DRIVER_TEST_ROOT");
    installBackends(options);
    LaunchedTray launched;
    launched.delegate = std::make_unique<AppDelegate>();
    launched.delegate->applicationDidFinishLaunching();
    if (!launched.delegate->launchApplication()) {
        std::fprintf(stderr, "the program did not start (is the driver installed?)\n");
        return std::nullopt;
    }
    launched.tray = launched.delegate->orvoMenuTray();
    for (QAction* action : launched.tray->menu()->actions()) {
        if (action->text() == "Start recording from Microphone") {
            launched.start = action;
        }
    }
    if (launched.start == nullptr) {
        std::fprintf(stderr, "no start action in the tray menu\n");
        return std::nullopt;
    }
    return launched;
}

} // namespace orvo
