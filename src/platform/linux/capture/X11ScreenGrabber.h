#pragma once

#include <optional>

#include <QRect>
#include <QString>

#include "platform/linux/media/FFmpegHandles.h"

namespace orvo {

// Frames of one area of an X display through FFmpeg's x11grab. Used by one thread.
class X11ScreenGrabber {
public:
    // The error when the display cannot be grabbed.
    std::optional<QString> open(const QString& displayName, QRect area, int frameRate);
    // Blocks until the next frame is due (the device paces itself); nullptr and error set on
    // failure.
    ffmpeg::Frame grab(QString* error);

private:
    ffmpeg::InputContext input_;
    ffmpeg::CodecContext decoder_;
};

} // namespace orvo
