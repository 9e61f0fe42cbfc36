#pragma once

namespace orvo {

// Ends the process at once with the status: console output is flushed, nothing else is
// stopped, restored or destroyed.
[[noreturn]] void exitProcessNow(int status);

} // namespace orvo
