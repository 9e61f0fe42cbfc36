#include "platform/linux/capture/AacSegmentWriter.h"

#include <algorithm>

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace orvo {

std::optional<QString> AacSegmentWriter::open(const QString& path, const char* formatName,
                                              int bitRate, std::int64_t startEpochMicroseconds,
                                              Layout layout) {
    return open(path, formatName, bitRate, startEpochMicroseconds, layout, Input{});
}

std::optional<QString> AacSegmentWriter::open(const QString& path, const char* formatName,
                                              int bitRate, std::int64_t startEpochMicroseconds,
                                              Layout layout, Input input) {
    QString error;
    encoder_ = ffmpeg::openSegment(writer_, path, formatName, "aac", &error);
    if (!encoder_) {
        return error;
    }
    const bool speech = layout == Layout::speechMono;
    encoder_->sample_fmt = AV_SAMPLE_FMT_FLTP;
    encoder_->sample_rate = speech ? std::min(sampleRate / 2, input.rate) : sampleRate;
    av_channel_layout_default(&encoder_->ch_layout, speech ? 1 : channels);
    encoder_->bit_rate = speech ? speechBitRate : bitRate;
    encoder_->time_base = AVRational{1, encoder_->sample_rate};
    AVDictionary* options = nullptr;
    if (speech) {
        // The fast coder costs half as much, and speech at this rate does not miss the rest.
        av_dict_set(&options, "aac_coder", "fast", 0);
    }
    if (auto error = ffmpeg::beginSegment(writer_, encoder_.get(), &options, "AAC",
                                          startEpochMicroseconds)) {
        return error;
    }
    frame_ = ffmpeg::makeFrame();
    frame_->format = AV_SAMPLE_FMT_FLTP;
    frame_->nb_samples = encoder_->frame_size;
    frame_->sample_rate = encoder_->sample_rate;
    av_channel_layout_copy(&frame_->ch_layout, &encoder_->ch_layout);
    const int result = av_frame_get_buffer(frame_.get(), 0);
    if (result < 0) {
        return QStringLiteral("cannot allocate audio: %1").arg(ffmpeg::errorText(result));
    }
    return speech ? openResampler(input) : std::nullopt;
}

std::optional<QString> AacSegmentWriter::openResampler(Input input) {
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, input.channels);
    int result = 0;
    resampler_ = ffmpeg::makeResampler(
        {&layout, AV_SAMPLE_FMT_FLT, input.rate},
        {&encoder_->ch_layout, AV_SAMPLE_FMT_FLTP, encoder_->sample_rate}, result);
    if (!resampler_) {
        return QStringLiteral("cannot convert the audio: %1").arg(ffmpeg::errorText(result));
    }
    return std::nullopt;
}

std::optional<QString> AacSegmentWriter::convert(const float* interleaved, std::int64_t frames) {
    // Speech is one channel: its plane takes a sample a frame.
    return ffmpeg::appendConverted(resampler_.get(), interleaved, frames, 1, pending_[0]);
}

std::optional<QString> AacSegmentWriter::write(const float* interleaved, std::int64_t frames) {
    if (resampler_) {
        if (auto error = convert(interleaved, frames)) {
            return error;
        }
        return encodeFull(false);
    }
    for (int channel = 0; channel < channels; ++channel) {
        auto& plane = pending_[channel];
        const std::size_t offset = plane.size();
        plane.resize(offset + std::size_t(frames));
        for (std::int64_t i = 0; i < frames; ++i) {
            plane[offset + std::size_t(i)] = interleaved[i * channels + channel];
        }
    }
    return encodeFull(false);
}

std::optional<QString> AacSegmentWriter::encodeFull(bool flush) {
    const std::size_t size = std::size_t(encoder_->frame_size);
    std::size_t used = 0;
    while (pending_[0].size() - used >= size || (flush && pending_[0].size() > used)) {
        const std::size_t count = std::min(size, pending_[0].size() - used);
        int result = av_frame_make_writable(frame_.get());
        if (result < 0) {
            return QStringLiteral("cannot encode: %1").arg(ffmpeg::errorText(result));
        }
        frame_->nb_samples = int(count);
        for (int channel = 0; channel < encoder_->ch_layout.nb_channels; ++channel) {
            std::copy_n(pending_[channel].begin() + std::ptrdiff_t(used), count,
                        reinterpret_cast<float*>(frame_->data[channel]));
        }
        frame_->pts = encodedFrames_;
        encodedFrames_ += std::int64_t(count);
        used += count;
        if (auto error = ffmpeg::encodeAndWrite(encoder_.get(), frame_.get(), writer_, 0)) {
            return error;
        }
    }
    for (int channel = 0; channel < encoder_->ch_layout.nb_channels; ++channel) {
        pending_[channel].erase(pending_[channel].begin(),
                                pending_[channel].begin() + std::ptrdiff_t(used));
    }
    return std::nullopt;
}

std::optional<QString> AacSegmentWriter::finish() {
    if (!writer_.begun()) {
        return std::nullopt;
    }
    // What the resampler still holds belongs to the end.
    std::optional<QString> error = resampler_ ? convert(nullptr, 0) : std::nullopt;
    error = error ? error : encodeFull(true);
    if (!error) {
        error = ffmpeg::encodeAndWrite(encoder_.get(), nullptr, writer_, 0);
    }
    const auto closed = writer_.finish();
    return error ? error : closed;
}

} // namespace orvo
