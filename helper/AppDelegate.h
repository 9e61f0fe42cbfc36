#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace orvohelper {

// The login-time watchdog: starts the main program when it is not running and starts it
// again whenever it ends with a non-zero status, backing off when it keeps failing.
// Single-threaded; blocks in the kernel while it waits, so it uses no CPU then.
class AppDelegate {
public:
    // mainProgram: the absolute, canonical path of the main program's executable.
    explicit AppDelegate(std::string mainProgram);

    // Start-up, then waiting for the whole session. Never returns.
    [[noreturn]] void run();

    void applicationDidFinishLaunching();
    void applicationWillTerminate() {}

    // The main program ended with status: a non-zero one is reported and relaunched after a
    // pause that doubles with each failure of the last two minutes (1 s to 16 s); after the
    // fifth there, or when the session is ending, it is not relaunched.
    void terminateApp(int status);

    static constexpr int failuresToGiveUp = 5;
    static constexpr std::chrono::seconds failureWindow{120};

private:
    // A process other than this one whose executable is the main program.
    std::optional<pid_t> runningMainProgram() const;
    void launchORVO();
    // The status of the child that we launched, once it has ended.
    int waitForChild(pid_t child) const;
    // Returns when that process (not our child) has ended; its status cannot be known.
    static void waitForForeign(pid_t process);

    // The session the program needs is going: its X server or its session bus is gone.
    static bool sessionEnding();
    // Said once, on the console and as a desktop notification.
    void giveUp();

    std::string mainProgram_;
    std::vector<std::chrono::steady_clock::time_point> failures_;
    bool gaveUp_ = false;
    std::optional<pid_t> child_;
    std::optional<pid_t> foreign_;
};

} // namespace orvohelper
