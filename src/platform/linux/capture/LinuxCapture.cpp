#include "platform/linux/capture/LinuxCapture.h"

#include <variant>

#include <QtGlobal>

#include "platform/Platform.h"
#include "platform/linux/capture/LinuxAudioFileOutput.h"
#include "platform/linux/capture/LinuxCaptureInputs.h"
#include "platform/linux/capture/LinuxCaptureSession.h"
#include "platform/linux/capture/LinuxMovieFileOutput.h"
#include "platform/linux/capture/ScreenCastPortal.h"
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

std::shared_ptr<CaptureInput> LinuxCapture::makeScreenInput(DisplayID displayID,
                                                            const ScreenChoice& choice) {
    auto* displays = Platform::shared().find<Displays>();
    if (displays == nullptr) {
        return nullptr;
    }
    const QString displayName = qEnvironmentVariable("DISPLAY");
    for (const Screen& screen : displays->screens()) {
        if (screen.displayID != displayID) {
            continue;
        }
        if (screen.chosenByDesktop) {
            return portalScreenInput(choice);
        }
        if (!displayName.isEmpty() && screen.geometry.width() >= 2 &&
            screen.geometry.height() >= 2) {
            return std::make_shared<LinuxScreenInput>(displayName, screen.geometry);
        }
    }
    return nullptr;
}

std::shared_ptr<CaptureInput> LinuxCapture::portalScreenInput(const ScreenChoice& choice) {
    auto opened = ScreenCastPortal::open(choice.restoreToken);
    if (const auto* refusal = std::get_if<ScreenCastPortal::Refusal>(&opened)) {
        if (choice.refused) {
            choice.refused(refusal->failure == ScreenCastPortal::Failure::missing
                               ? ScreenRefusal::noPortal
                           : refusal->failure == ScreenCastPortal::Failure::cancelled
                               ? ScreenRefusal::cancelled
                               : ScreenRefusal::refused,
                           refusal->message);
        }
        return nullptr;
    }
    auto& session = std::get<ScreenCastPortal::Session>(opened);
    if (session.restoreToken && choice.keepToken) {
        choice.keepToken(*session.restoreToken);
    }
    return std::make_shared<LinuxScreenInput>(std::make_shared<PortalScreen>(std::move(session)));
}

std::shared_ptr<CaptureAudioFileOutput> LinuxCapture::makeAudioFileOutput() {
    return std::make_shared<LinuxAudioFileOutput>();
}

std::shared_ptr<CaptureMovieFileOutput> LinuxCapture::makeMovieFileOutput() {
    return std::make_shared<LinuxMovieFileOutput>();
}

} // namespace orvo
