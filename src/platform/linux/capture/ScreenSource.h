#pragma once

#include <memory>
#include <optional>

#include <QSize>
#include <QString>

#include "platform/linux/capture/LinuxCaptureInputs.h"
#include "platform/linux/capture/PipeWireScreenGrabber.h"
#include "platform/linux/capture/X11ScreenGrabber.h"
#include "platform/linux/media/FFmpegHandles.h"

namespace orvo {

// The frames of a screen input: grabbed from the X display, or read from the stream that the
// screen-cast portal opens on Wayland. One thread.
class ScreenSource {
public:
    ScreenSource() = default;
    // Ends the portal's session, if one was opened.
    ~ScreenSource();
    ScreenSource(const ScreenSource&) = delete;
    ScreenSource& operator=(const ScreenSource&) = delete;

    // The error when the screen cannot be had: the portal missing, the choice refused or
    // cancelled, the display or the stream failing.
    std::optional<QString> open(const LinuxScreenInput& input, int frameRate);
    // Blocks until the next frame is due; nullptr and error set on failure.
    ffmpeg::Frame grab(QString* error);
    // The frames' size; for the portal's stream known from its first frame.
    QSize size() const;

private:
    std::optional<QString> openPortal(const LinuxScreenInput::PortalChoice& choice, int frameRate);

    std::unique_ptr<X11ScreenGrabber> x11_;
    QSize x11Size_;
    std::unique_ptr<PipeWireScreenGrabber> pipeWire_;
    QString portalSession_;
};

} // namespace orvo
