#pragma once

#include <cstdint>
#include <optional>

#include <QString>

#include "platform/linux/capture/CaptureQuality.h"
#include "platform/linux/media/FFmpegHandles.h"

namespace orvo {

// Encodes screen frames into H.264 (a key frame every second) in a fragmented movie file that
// carries its start on the recording clock. Used by one thread.
class H264SegmentWriter {
public:
    // The error when the file cannot be started. Odd sizes lose their last row or column.
    std::optional<QString> open(const QString& path, const char* formatName, int width, int height,
                                const CaptureQuality& quality, std::int64_t startEpochMicroseconds);
    // frame: any pixel format; frameIndex: its place in frames since the start, increasing.
    std::optional<QString> write(const AVFrame& frame, std::int64_t frameIndex);
    std::optional<QString> finish();

private:
    ffmpeg::FormatWriter writer_;
    ffmpeg::CodecContext encoder_;
    ffmpeg::ScaleContext scale_;
    ffmpeg::Frame converted_;
};

} // namespace orvo
