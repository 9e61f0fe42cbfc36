#include "platform/linux/LinuxCapture.h"

#include <QtGlobal>

#include "platform/Platform.h"
#include "platform/linux/FFmpegHandles.h"
#include "platform/linux/LinuxAudioFileOutput.h"
#include "platform/linux/LinuxCaptureInputs.h"
#include "platform/linux/LinuxCaptureSession.h"
#include "platform/linux/LinuxMovieFileOutput.h"
#include "platform/linux/PulseRequests.h"
#include "platform/linux/PulseSession.h"

namespace orvo {

namespace {

constexpr std::chrono::milliseconds sourceCheckTimeout{1000};

// A connection of its own per check, closed at once, as before the wrapper was shared: whether
// one kept for the program's life is safe on PipeWire's server is not settled yet.
bool sourceExists(const QString& sourceName) {
    PulseSession session;
    if (session.connect("ORVO device check", std::nullopt, sourceCheckTimeout,
                        PulseSession::Drive::byOwner)) {
        return false;
    }
    PulseRequests server(session);
    return server.source(sourceName.toUtf8()).record.has_value();
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
