#pragma once

#include <memory>

#include <QFileInfo>

#include "app/Backends.h"
#include "platform/Platform.h"
#include "platform/linux/sound/LinuxAudioHardware.h"
#include "shell/API.h"

namespace orvo::test {

// The program's own backends, finding the virtual driver where scripts/test installed it
// (a stand-in for /); whether the driver is there.
inline bool installProgramBackends() {
    LinuxAudioHardware::Options options;
    options.driverRoot = qEnvironmentVariable("ORVO_DRIVER_TEST_ROOT");
    installBackends(options);
    return QFileInfo::exists(API::pathDriver());
}

} // namespace orvo::test
