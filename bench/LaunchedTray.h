#pragma once

#include <memory>
#include <optional>

class QAction;

namespace orvo {

class AppDelegate;
class OrvoMenuTray;

// The program wired as it runs (its backends, the driver under ORVO_DRIVER_TEST_ROOT) and
// launched in this process, with the tray's entry that records from the microphone.
struct LaunchedTray {
    std::unique_ptr<AppDelegate> delegate;
    OrvoMenuTray* tray = nullptr;
    QAction* start = nullptr;

    // Absent, said on standard error, when the program or its entry is not there.
    static std::optional<LaunchedTray> launch();
    LaunchedTray();
    LaunchedTray(LaunchedTray&&) noexcept;
    LaunchedTray& operator=(LaunchedTray&&) noexcept;
    // Ends the program and releases the backends.
    ~LaunchedTray();
};

} // namespace orvo
