#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QString>

#include "platform/linux/media/FFmpegHandles.h"

namespace orvo {

// Keeps a sum of sources under a ceiling, as the export's mix does: FFmpeg's alimiter, its
// lookahead compensated, so what comes out lines up with what went in. Interleaved float
// stereo at 48 kHz. Used by one thread at a time.
class AudioLimiter {
public:
    // The error when the filter cannot be built.
    std::optional<QString> open(double ceiling);
    // Appends to out what the limiter hands back for these frames (it keeps its lookahead).
    std::optional<QString> process(const float* interleaved, std::int64_t frames,
                                   std::vector<float>& out);
    // Appends what it still holds.
    std::optional<QString> flush(std::vector<float>& out);

private:
    std::optional<QString> drain(std::vector<float>& out);

    ffmpeg::FilterGraph graph_;
    AVFilterContext* source_ = nullptr; // owned by the graph
    AVFilterContext* sink_ = nullptr;   // owned by the graph
    ffmpeg::Frame frame_ = ffmpeg::makeFrame();
    std::int64_t pushed_ = 0;
};

} // namespace orvo
