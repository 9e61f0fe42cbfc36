#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QString>

#include "platform/linux/media/FFmpegHandles.h"

namespace orvo {

// Encodes interleaved float samples (stereo at 48 kHz unless said) into AAC, in a fragmented
// MPEG-4 audio file that carries its start on the recording clock. Used by one thread.
class AacSegmentWriter {
public:
    // What is written: the stereo as it comes, or one side of a call kept for what was said
    // (mono at half the rate, which costs a third of the stereo's encoding).
    enum class Layout { stereo, speechMono };

    static constexpr int sampleRate = 48000; // of what write takes
    static constexpr int channels = 2;       // of what write takes
    static constexpr int speechBitRate = 48000;

    // What write takes; other than the default for speechMono only, which is never encoded
    // at a higher rate than it came.
    struct Input {
        int rate = sampleRate;
        int channels = AacSegmentWriter::channels;
    };

    // formatName: "ipod" for .m4a. The error when the file cannot be started.
    std::optional<QString> open(const QString& path, const char* formatName, int bitRate,
                                std::int64_t startEpochMicroseconds,
                                Layout layout = Layout::stereo);
    std::optional<QString> open(const QString& path, const char* formatName, int bitRate,
                                std::int64_t startEpochMicroseconds, Layout layout, Input input);
    std::optional<QString> write(const float* interleaved, std::int64_t frames);
    // Encodes what is left and closes the file.
    std::optional<QString> finish();

private:
    std::optional<QString> openResampler(Input input);
    std::optional<QString> convert(const float* interleaved, std::int64_t frames);
    std::optional<QString> encodeFull(bool flush);

    ffmpeg::FormatWriter writer_;
    ffmpeg::CodecContext encoder_;
    ffmpeg::Frame frame_;
    ffmpeg::Resampler resampler_;          // speechMono only
    std::vector<float> pending_[channels]; // planar samples of the encoder not yet encoded
    std::int64_t encodedFrames_ = 0;
};

} // namespace orvo
