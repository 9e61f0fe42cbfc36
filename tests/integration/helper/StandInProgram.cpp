// Stands in for the main program beside a copy of the helper: notes each start with its
// process id in the file $ORVO_STAND_IN_LOG, ends with status 0 on SIGTERM, else waits.
#include <csignal>
#include <cstdlib>
#include <fstream>

#include <unistd.h>

int main() {
    const char* log = std::getenv("ORVO_STAND_IN_LOG");
    if (log == nullptr) {
        return 2;
    }
    std::ofstream(log, std::ios::app) << ::getpid() << std::endl;
    std::signal(SIGTERM, [](int) { ::_exit(0); });
    for (;;) {
        ::pause();
    }
}
