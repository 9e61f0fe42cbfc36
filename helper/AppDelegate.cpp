#include "AppDelegate.h"

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <iostream>
#include <system_error>
#include <thread>
#include <utility>

#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "UniqueFd.h"

extern char** environ;

namespace orvohelper {
namespace {

const std::string mainBundleID = "com.orvo.orvomac";
// How often the process list is read while no main program is known. Nothing is read while
// the helper waits for a program it watches.
constexpr auto scanInterval = std::chrono::seconds(5);

std::optional<pid_t> pidFromName(const std::string& name) {
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (error != std::errc() || end != name.data() + name.size()) {
        return std::nullopt;
    }
    return pid;
}

// The executable of the process; a replaced file still names the program.
std::string executableOf(const std::filesystem::path& processFolder) {
    std::error_code error;
    std::string target = std::filesystem::read_symlink(processFolder / "exe", error).string();
    const std::string deleted = " (deleted)";
    if (target.ends_with(deleted)) {
        target.resize(target.size() - deleted.size());
    }
    return target;
}

} // namespace

AppDelegate::AppDelegate(std::string mainProgram) : mainProgram_(std::move(mainProgram)) {}

void AppDelegate::run() {
    applicationDidFinishLaunching();
    for (;;) {
        if (child_) {
            const pid_t child = *std::exchange(child_, std::nullopt);
            terminateApp(waitForChild(child));
        } else if (foreign_) {
            waitForForeign(*std::exchange(foreign_, std::nullopt));
            // Not our child: its status is unknown, so its end counts as a quit.
        } else {
            std::this_thread::sleep_for(scanInterval);
            foreign_ = runningMainProgram();
        }
    }
}

void AppDelegate::applicationDidFinishLaunching() {
    foreign_ = runningMainProgram();
    if (!foreign_) {
        launchORVO();
    }
}

void AppDelegate::terminateApp(int status) {
    if (status == 0) {
        return;
    }
    std::cout << "id app: " << mainBundleID << " exitWithCode: " << status << std::endl;
    launchORVO();
}

std::optional<pid_t> AppDelegate::runningMainProgram() const {
    std::error_code error;
    const pid_t self = ::getpid();
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const auto pid = pidFromName(entry.path().filename().string());
        if (pid && *pid != self && executableOf(entry.path()) == mainProgram_) {
            return pid;
        }
    }
    return std::nullopt;
}

void AppDelegate::launchORVO() {
    std::string program = mainProgram_;
    char* arguments[] = {program.data(), nullptr};
    pid_t child = 0;
    // A failure is not reported or retried: the next scan finds no program either way.
    if (::posix_spawn(&child, program.c_str(), nullptr, nullptr, arguments, environ) == 0) {
        child_ = child;
    }
}

int AppDelegate::waitForChild(pid_t child) const {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return 0;
        }
    }
    if (WIFSIGNALED(status)) {
        return WTERMSIG(status);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 0;
}

void AppDelegate::waitForForeign(pid_t process) {
    const UniqueFd handle(int(::syscall(SYS_pidfd_open, process, 0)));
    if (!handle.valid()) {
        return; // already gone
    }
    pollfd ended{handle.get(), POLLIN, 0};
    while (::poll(&ended, 1, -1) < 0 && errno == EINTR) {
    }
}

} // namespace orvohelper
