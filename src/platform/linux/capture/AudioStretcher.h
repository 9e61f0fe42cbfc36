#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QString>

#include "platform/linux/media/FFmpegHandles.h"

namespace orvo {

// Passes interleaved float audio through libswresample, which can lengthen or shorten a
// stretch of it by a few frames without a click. That is how a source whose clock runs fast
// or slow is kept on the recording's clock. Used by one thread.
class AudioStretcher {
public:
    AudioStretcher(int sampleRate, int channels);

    // frames of input become about frames + stretch frames of output, appended to out; the
    // resampler may hold a few back until later input or flush().
    std::optional<QString> process(const float* input, std::int64_t frames, std::int64_t stretch,
                                   std::vector<float>& out);
    // Hands out what is held back, at the end.
    std::optional<QString> flush(std::vector<float>& out);
    // Frames handed out and held back so far: where the next input frame lands.
    std::int64_t frames() const;

private:
    std::optional<QString> convert(const float* input, std::int64_t frames,
                                   std::vector<float>& out);

    int sampleRate_;
    int channels_;
    ffmpeg::Resampler resampler_;
    std::optional<QString> setupError_;
    std::int64_t handedOut_ = 0;
};

} // namespace orvo
