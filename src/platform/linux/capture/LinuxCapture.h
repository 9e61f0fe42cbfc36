#pragma once

#include "platform/Capture.h"

namespace orvo {

class LinuxAudioHardware;

// Capture on Linux: PulseAudio sources (by name, the device's unique ID) as the audio hardware
// knows them, and screens of the X display named by DISPLAY, placed by the Displays port.
class LinuxCapture final : public Capture {
public:
    // hardware must outlive the capture: they are installed together.
    explicit LinuxCapture(LinuxAudioHardware& hardware);
    std::unique_ptr<CaptureSession> makeSession() override;
    std::shared_ptr<CaptureInput> makeDeviceInput(const QString& deviceUniqueID) override;
    std::shared_ptr<CaptureInput> makeScreenInput(DisplayID displayID,
                                                  const ScreenChoice& choice) override;
    std::shared_ptr<CaptureAudioFileOutput> makeAudioFileOutput() override;
    std::shared_ptr<CaptureMovieFileOutput> makeMovieFileOutput() override;

private:
    // The screen that the desktop's screen-cast portal lets the user choose.
    static std::shared_ptr<CaptureInput> portalScreenInput(const ScreenChoice& choice);

    LinuxAudioHardware& hardware_;
};

} // namespace orvo
