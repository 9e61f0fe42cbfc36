#include "shell/ProcessExit.h"

#include <cstdio>
#include <cstdlib>

namespace orvo {

void exitProcessNow(int status) {
    std::fflush(nullptr);
    std::_Exit(status);
}

} // namespace orvo
