#pragma once

#include <atomic>
#include <optional>
#include <vector>

#include <QString>

#include "platform/MediaComposition.h"
#include "platform/linux/media/FFmpegHandles.h"

namespace orvo {

// Decodes audio segments, lays them out at their starts, sums them (a limiter keeps the sum
// from clipping; levels are not halved) and encodes one AAC track.
class AudioMixer {
public:
    struct Input {
        MediaCompositionSegment segment;
        double startSeconds = 0.0; // where the segment begins in the result
    };

    static constexpr int sampleRate = 48000;
    // The limiter's ceiling, below full scale so that AAC's overshoot stays unclipped.
    static constexpr double ceiling = 0.9;

    // The filter graph: inputs labelled in0, in1, ... and the output out.
    static QString filterDescription(const std::vector<Input>& inputs);
    // The AAC bit rate of the result: the highest of the sources, 64 to 256 kb/s.
    static int outputBitRate(const std::vector<std::int64_t>& sourceBitRates);

    // Blocks; the error when the mix could not be written. Stops early when cancelled.
    static std::optional<QString> mix(const std::vector<Input>& inputs, const QString& path,
                                      const char* muxer, const std::atomic<bool>& cancelled,
                                      const ffmpeg::FileTags& tags = {});
};

} // namespace orvo
