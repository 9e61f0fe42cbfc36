// Stands in for the main program beside a copy of the helper: notes each start with its
// process id and the monotonic clock's milliseconds in the file $ORVO_STAND_IN_LOG, ends with
// status 0 on SIGTERM, else waits; with $ORVO_STAND_IN_EXIT it ends at once with that status.
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fstream>

#include <unistd.h>

int main() {
    const char* log = std::getenv("ORVO_STAND_IN_LOG");
    if (log == nullptr) {
        return 2;
    }
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    std::ofstream(log, std::ios::app)
        << ::getpid() << ' ' << now.tv_sec * 1000 + now.tv_nsec / 1000000 << std::endl;
    if (const char* status = std::getenv("ORVO_STAND_IN_EXIT")) {
        return std::atoi(status);
    }
    std::signal(SIGTERM, [](int) { ::_exit(0); });
    for (;;) {
        ::pause();
    }
}
