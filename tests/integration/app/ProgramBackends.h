#pragma once

#include <memory>

#include <QFileInfo>

#include "app/Backends.h"
#include "platform/Platform.h"
#include "platform/linux/LinuxAudioHardware.h"
#include "shell/API.h"

namespace orvo::test {

// The program's own backends, finding the virtual driver where scripts/test installed it
// (a stand-in for /); whether the driver is there.
inline bool installProgramBackends() {
    installBackends();
    if (!qEnvironmentVariableIsEmpty("ORVO_DRIVER_TEST_ROOT")) {
        LinuxAudioHardware::Options options;
        options.driverRoot = qEnvironmentVariable("ORVO_DRIVER_TEST_ROOT");
        Platform::shared().install<AudioHardware>(std::make_unique<LinuxAudioHardware>(options));
    }
    return QFileInfo::exists(API::pathDriver());
}

} // namespace orvo::test
