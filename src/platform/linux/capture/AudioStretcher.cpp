#include "platform/linux/capture/AudioStretcher.h"

#include <algorithm>

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace orvo {

AudioStretcher::AudioStretcher(int sampleRate, int channels)
    : sampleRate_(sampleRate), channels_(channels) {
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, channels);
    // Same rate and format in and out: the resampler only works while a stretch is asked for.
    const ffmpeg::AudioFormat format{&layout, AV_SAMPLE_FMT_FLT, sampleRate};
    int result = 0;
    resampler_ = ffmpeg::makeResampler(format, format, result);
    if (!resampler_) {
        setupError_ =
            QStringLiteral("cannot set up the resampler: %1").arg(ffmpeg::errorText(result));
    }
}

std::optional<QString> AudioStretcher::process(const float* input, std::int64_t frames,
                                               std::int64_t stretch, std::vector<float>& out) {
    if (setupError_) {
        return setupError_;
    }
    // The resampler divides by what is left of the pace: keep far from zero.
    stretch = std::clamp(stretch, -frames / 10, frames / 10);
    if (stretch != 0) {
        const int result = swr_set_compensation(resampler_.get(), int(stretch), int(frames));
        if (result < 0) {
            return QStringLiteral("cannot stretch audio: %1").arg(ffmpeg::errorText(result));
        }
    }
    return convert(input, frames, out);
}

std::optional<QString> AudioStretcher::flush(std::vector<float>& out) {
    return setupError_ ? setupError_ : convert(nullptr, 0, out);
}

std::int64_t AudioStretcher::frames() const {
    return handedOut_ + (resampler_ ? swr_get_delay(resampler_.get(), sampleRate_) : 0);
}

std::optional<QString> AudioStretcher::convert(const float* input, std::int64_t frames,
                                               std::vector<float>& out) {
    // A stretch can exceed the resampler's own estimate by its size.
    const int estimate = swr_get_out_samples(resampler_.get(), int(frames));
    if (estimate < 0) {
        return QStringLiteral("cannot stretch audio: %1").arg(ffmpeg::errorText(estimate));
    }
    const int room = estimate + int(frames / 50) + 64;
    const std::size_t offset = out.size();
    out.resize(offset + std::size_t(room) * std::size_t(channels_));
    auto* target = reinterpret_cast<std::uint8_t*>(out.data() + offset);
    const auto* source = reinterpret_cast<const std::uint8_t*>(input);
    const int produced = swr_convert(resampler_.get(), &target, room,
                                     input != nullptr ? &source : nullptr, int(frames));
    if (produced < 0) {
        out.resize(offset);
        return QStringLiteral("cannot stretch audio: %1").arg(ffmpeg::errorText(produced));
    }
    out.resize(offset + std::size_t(produced) * std::size_t(channels_));
    handedOut_ += produced;
    return std::nullopt;
}

} // namespace orvo
