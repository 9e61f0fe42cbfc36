#pragma once

#include "platform/linux/sound/LinuxAudioHardware.h"

namespace orvo {

// Installs the Linux backend of every platform port: what the program runs on. options: where
// the audio hardware finds its server and the driver; tests name private ones.
void installBackends(const LinuxAudioHardware::Options& options = {});

} // namespace orvo
