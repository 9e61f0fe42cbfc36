#include "platform/linux/capture/LinuxCapture.h"

#include <QtGlobal>

#include "platform/Platform.h"
#include "platform/linux/capture/LinuxAudioFileOutput.h"
#include "platform/linux/capture/LinuxCaptureInputs.h"
#include "platform/linux/capture/LinuxCaptureSession.h"
#include "platform/linux/capture/LinuxMovieFileOutput.h"
#include "platform/linux/media/FFmpegHandles.h"
#include "platform/linux/sound/LinuxAudioHardware.h"

namespace orvo {

LinuxCapture::LinuxCapture(LinuxAudioHardware& hardware) : hardware_(hardware) {
    ffmpeg::quietLogging();
}

std::unique_ptr<CaptureSession> LinuxCapture::makeSession() {
    return std::make_unique<LinuxCaptureSession>();
}

std::shared_ptr<CaptureInput> LinuxCapture::makeDeviceInput(const QString& deviceUniqueID) {
    // Asked of the audio hardware's kept connection: a check costs no connection of its own.
    if (deviceUniqueID.isEmpty() || !hardware_.hasSource(deviceUniqueID.toUtf8())) {
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
