#pragma once

#include <optional>
#include <string>

#include <sys/types.h>

namespace orvohelper {

// The login-time watchdog: starts the main program when it is not running and starts it
// again whenever it ends with a non-zero status. Single-threaded; blocks in the kernel while
// it waits, so it uses no CPU then.
class AppDelegate {
public:
    // mainProgram: the absolute, canonical path of the main program's executable.
    explicit AppDelegate(std::string mainProgram);

    // Start-up, then waiting for the whole session. Never returns.
    [[noreturn]] void run();

    void applicationDidFinishLaunching();
    void applicationWillTerminate() {}

    // The main program ended with status: a non-zero one is reported and relaunched.
    void terminateApp(int status);

private:
    // A process other than this one whose executable is the main program.
    std::optional<pid_t> runningMainProgram() const;
    void launchORVO();
    // The status of the child that we launched, once it has ended.
    int waitForChild(pid_t child) const;
    // Returns when that process (not our child) has ended; its status cannot be known.
    static void waitForForeign(pid_t process);

    std::string mainProgram_;
    std::optional<pid_t> child_;
    std::optional<pid_t> foreign_;
};

} // namespace orvohelper
