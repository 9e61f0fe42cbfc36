#include "platform/linux/LinuxCapture.h"

#include <QtGlobal>

#include "platform/Platform.h"
#include "platform/linux/FFmpegHandles.h"
#include "platform/linux/LinuxAudioFileOutput.h"
#include "platform/linux/LinuxAudioHardware.h"
#include "platform/linux/LinuxCaptureInputs.h"
#include "platform/linux/LinuxCaptureSession.h"
#include "platform/linux/LinuxMovieFileOutput.h"

namespace orvo {

namespace {

// Asked of the audio hardware's kept connection: a check costs no connection of its own.
bool sourceExists(const QString& sourceName) {
    auto* hardware = dynamic_cast<LinuxAudioHardware*>(Platform::shared().find<AudioHardware>());
    return hardware != nullptr && hardware->hasSource(sourceName.toUtf8());
}

} // namespace

LinuxCapture::LinuxCapture() {
    ffmpeg::quietLogging();
}

std::unique_ptr<CaptureSession> LinuxCapture::makeSession() {
    return std::make_unique<LinuxCaptureSession>();
}

std::shared_ptr<CaptureInput> LinuxCapture::makeDeviceInput(const QString& deviceUniqueID) {
    if (deviceUniqueID.isEmpty() || !sourceExists(deviceUniqueID)) {
        return nullptr;
    }
    return std::make_shared<LinuxDeviceInput>(deviceUniqueID);
}

std::shared_ptr<CaptureInput> LinuxCapture::makeScreenInput(DisplayID displayID) {
    const QString displayName = qEnvironmentVariable("DISPLAY");
    auto* displays = Platform::shared().find<Displays>();
    if (displayName.isEmpty() || displays == nullptr) {
        return nullptr;
    }
    for (const Screen& screen : displays->screens()) {
        if (screen.displayID == displayID && screen.geometry.width() >= 2 &&
            screen.geometry.height() >= 2) {
            return std::make_shared<LinuxScreenInput>(displayName, screen.geometry);
        }
    }
    return nullptr;
}

std::shared_ptr<CaptureAudioFileOutput> LinuxCapture::makeAudioFileOutput() {
    return std::make_shared<LinuxAudioFileOutput>();
}

std::shared_ptr<CaptureMovieFileOutput> LinuxCapture::makeMovieFileOutput() {
    return std::make_shared<LinuxMovieFileOutput>();
}

} // namespace orvo
