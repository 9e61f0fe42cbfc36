#pragma once

namespace orvo {

// Installs the Linux backend of every platform port: what the program runs on.
void installBackends();

} // namespace orvo
