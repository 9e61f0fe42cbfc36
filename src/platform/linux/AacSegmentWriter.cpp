#include "platform/linux/AacSegmentWriter.h"

#include <algorithm>

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace orvo {

std::optional<QString> AacSegmentWriter::open(const QString& path, const char* formatName,
                                              int bitRate, std::int64_t startEpochMicroseconds) {
    if (auto error = writer_.open(path, formatName)) {
        return error;
    }
    QString error;
    encoder_ = ffmpeg::makeEncoder("aac", &error);
    if (!encoder_) {
        return error;
    }
    encoder_->sample_fmt = AV_SAMPLE_FMT_FLTP;
    encoder_->sample_rate = sampleRate;
    av_channel_layout_default(&encoder_->ch_layout, channels);
    encoder_->bit_rate = bitRate;
    encoder_->time_base = AVRational{1, sampleRate};
    if (writer_.context()->oformat->flags & AVFMT_GLOBALHEADER) {
        encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    int result = avcodec_open2(encoder_.get(), nullptr, nullptr);
    if (result < 0) {
        return QStringLiteral("cannot open the AAC encoder: %1").arg(ffmpeg::errorText(result));
    }
    if (writer_.addStream(encoder_.get()) == nullptr) {
        return QStringLiteral("cannot add the audio stream");
    }
    av_dict_set(&writer_.context()->metadata, ffmpeg::captureStartKey,
                QByteArray::number(qint64(startEpochMicroseconds)).constData(), 0);
    if (auto error = writer_.begin(true)) {
        return error;
    }
    frame_ = ffmpeg::makeFrame();
    frame_->format = AV_SAMPLE_FMT_FLTP;
    frame_->nb_samples = encoder_->frame_size;
    frame_->sample_rate = sampleRate;
    av_channel_layout_copy(&frame_->ch_layout, &encoder_->ch_layout);
    result = av_frame_get_buffer(frame_.get(), 0);
    if (result < 0) {
        return QStringLiteral("cannot allocate audio: %1").arg(ffmpeg::errorText(result));
    }
    return std::nullopt;
}

std::optional<QString> AacSegmentWriter::write(const float* interleaved, std::int64_t frames) {
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
        for (int channel = 0; channel < channels; ++channel) {
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
    for (auto& plane : pending_) {
        plane.erase(plane.begin(), plane.begin() + std::ptrdiff_t(used));
    }
    return std::nullopt;
}

std::optional<QString> AacSegmentWriter::finish() {
    if (!writer_.begun()) {
        return std::nullopt;
    }
    std::optional<QString> error = encodeFull(true);
    if (!error) {
        error = ffmpeg::encodeAndWrite(encoder_.get(), nullptr, writer_, 0);
    }
    const auto closed = writer_.finish();
    return error ? error : closed;
}

} // namespace orvo
