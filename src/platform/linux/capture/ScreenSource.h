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
    // The error when the screen cannot be had: the display or the portal's stream failing.
    std::optional<QString> open(const LinuxScreenInput& input, int frameRate);
    // Blocks until the next frame is due; nullptr and error set on failure.
    ffmpeg::Frame grab(QString* error);
    // The frames' size; for the portal's stream known from its first frame.
    QSize size() const;

private:
    std::optional<QString> openPortal(const PortalScreen& portal, int frameRate);

    std::unique_ptr<X11ScreenGrabber> x11_;
    QSize x11Size_;
    std::unique_ptr<PipeWireScreenGrabber> pipeWire_;
};

} // namespace orvo
