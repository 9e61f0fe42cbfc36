#include "AppDelegate.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
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
    if (sessionEnding()) {
        std::cout << "The session is ending: " << mainBundleID << " is not started again"
                  << std::endl;
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    std::erase_if(failures_, [&](auto at) { return now - at > failureWindow; });
    failures_.push_back(now);
    if (int(failures_.size()) > failuresToGiveUp) {
        giveUp();
        return;
    }
    // A program that fails at once (no display, a missing plugin) must not spin.
    std::this_thread::sleep_for(std::chrono::seconds(1 << (failures_.size() - 1)));
    launchORVO();
}

bool AppDelegate::sessionEnding() {
    // DISPLAY ":N" (or ":N.S") is the socket /tmp/.X11-unix/XN of a local server.
    if (const char* display = std::getenv("DISPLAY"); display != nullptr && display[0] == ':') {
        const std::string number =
            std::string(display + 1).substr(0, std::strcspn(display + 1, "."));
        if (!std::filesystem::exists("/tmp/.X11-unix/X" + number)) {
            return true;
        }
    }
    const std::string pathKey = "unix:path=";
    if (const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        bus != nullptr && std::string(bus).starts_with(pathKey)) {
        const std::string address(bus + pathKey.size());
        return !std::filesystem::exists(address.substr(0, address.find(',')));
    }
    return false;
}

void AppDelegate::giveUp() {
    if (std::exchange(gaveUp_, true)) {
        return;
    }
    const std::string message = "ORVO - Call Recorder failed " + std::to_string(failuresToGiveUp) +
                                " times in two minutes and is not started again";
    std::cout << message << std::endl;
    // gdbus: the notification's hints are a dictionary of variants, which dbus-send cannot
    // write. Nobody waits for it; without a notification server nothing shows.
    std::string program = "gdbus";
    std::vector<std::string> words{program,
                                   "call",
                                   "--session",
                                   "--dest",
                                   "org.freedesktop.Notifications",
                                   "--object-path",
                                   "/org/freedesktop/Notifications",
                                   "--method",
                                   "org.freedesktop.Notifications.Notify",
                                   "ORVO - Call Recorder Helper",
                                   "0",
                                   "",
                                   "ORVO - Call Recorder",
                                   message,
                                   "[]",
                                   "{}",
                                   "-1"};
    std::vector<char*> arguments;
    for (auto& word : words) {
        arguments.push_back(word.data());
    }
    arguments.push_back(nullptr);
    pid_t notifier = 0;
    if (::posix_spawnp(&notifier, program.c_str(), nullptr, nullptr, arguments.data(), environ) ==
        0) {
        waitForChild(notifier);
    }
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
