#pragma once

#include <memory>
#include <mutex>

#include "platform/Capture.h"

namespace orvo {

class PulseSession;

// Capture on Linux: PulseAudio sources (by name, the device's unique ID) and screens of the
// X display named by DISPLAY, placed by the Displays port. A device input is made only for a
// source the server has; the check asks on one connection that the backend keeps.
class LinuxCapture final : public Capture {
public:
    LinuxCapture();
    ~LinuxCapture() override;
    LinuxCapture(const LinuxCapture&) = delete;
    LinuxCapture& operator=(const LinuxCapture&) = delete;
    LinuxCapture(LinuxCapture&&) = delete;
    LinuxCapture& operator=(LinuxCapture&&) = delete;
    std::unique_ptr<CaptureSession> makeSession() override;
    std::shared_ptr<CaptureInput> makeDeviceInput(const QString& deviceUniqueID) override;
    std::shared_ptr<CaptureInput> makeScreenInput(DisplayID displayID) override;
    std::shared_ptr<CaptureAudioFileOutput> makeAudioFileOutput() override;
    std::shared_ptr<CaptureMovieFileOutput> makeMovieFileOutput() override;

private:
    // Any thread; blocks at most about two seconds when the server does not answer.
    bool sourceExists(const QString& sourceName);

    std::mutex mutex_; // guards session_
    std::unique_ptr<PulseSession> session_;
};

} // namespace orvo
