// The login-item helper: a program of its own, sharing no code with the main program, which
// it finds beside itself.
#include <filesystem>
#include <system_error>

#include "AppDelegate.h"

int main() {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return 1;
    }
    orvohelper::AppDelegate delegate((self.parent_path() / ORVO_MAIN_EXECUTABLE_NAME).string());
    delegate.run();
}
