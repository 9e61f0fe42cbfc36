#include "platform/linux/media/AacTrackEncoder.h"

#include <algorithm>

namespace orvo {

std::optional<QString> AacTrackEncoder::open(ffmpeg::FormatWriter& writer, int channels, int rate,
                                             std::int64_t bitRate, std::int64_t firstSample) {
    QString error;
    encoder_ = ffmpeg::makeEncoder("aac", &error);
    if (!encoder_) {
        return error;
    }
    av_channel_layout_default(&encoder_->ch_layout, channels);
    encoder_->sample_rate = rate;
    encoder_->sample_fmt = AV_SAMPLE_FMT_FLTP;
    encoder_->bit_rate = bitRate;
    encoder_->time_base = AVRational{1, rate};
    if (writer.context()->oformat->flags & AVFMT_GLOBALHEADER) {
        encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (const int result = avcodec_open2(encoder_.get(), nullptr, nullptr); result < 0) {
        return QStringLiteral("cannot open the AAC encoder: %1").arg(ffmpeg::errorText(result));
    }
    fifo_.reset(av_audio_fifo_alloc(encoder_->sample_fmt, channels, encoder_->frame_size));
    AVStream* stream = writer.addStream(encoder_.get());
    if (!fifo_ || stream == nullptr) {
        return QStringLiteral("cannot add the sound");
    }
    streamIndex_ = stream->index;
    samples_ = firstSample;
    return std::nullopt;
}

std::optional<QString> AacTrackEncoder::write(const std::uint8_t* const* planes, int count,
                                              ffmpeg::FormatWriter& writer) {
    if (count > 0 &&
        av_audio_fifo_write(fifo_.get(),
                            const_cast<void**>(reinterpret_cast<const void* const*>(planes)),
                            count) < count) {
        return QStringLiteral("no memory for the sound");
    }
    return encodeWhole(writer, false);
}

std::optional<QString> AacTrackEncoder::finish(ffmpeg::FormatWriter& writer) {
    if (auto error = encodeWhole(writer, true)) {
        return error;
    }
    return ffmpeg::encodeAndWrite(encoder_.get(), nullptr, writer, streamIndex_);
}

std::optional<QString> AacTrackEncoder::encodeWhole(ffmpeg::FormatWriter& writer, bool atEnd) {
    const int size = encoder_->frame_size;
    while (av_audio_fifo_size(fifo_.get()) >= size ||
           (atEnd && av_audio_fifo_size(fifo_.get()) > 0)) {
        ffmpeg::Frame frame = ffmpeg::makeFrame();
        frame->nb_samples = std::min(size, av_audio_fifo_size(fifo_.get()));
        frame->format = encoder_->sample_fmt;
        frame->sample_rate = encoder_->sample_rate;
        av_channel_layout_copy(&frame->ch_layout, &encoder_->ch_layout);
        if (av_frame_get_buffer(frame.get(), 0) < 0 ||
            av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame->data),
                               frame->nb_samples) < frame->nb_samples) {
            return QStringLiteral("no memory for the sound");
        }
        frame->pts = samples_;
        samples_ += frame->nb_samples;
        if (auto error =
                ffmpeg::encodeAndWrite(encoder_.get(), frame.get(), writer, streamIndex_)) {
            return error;
        }
    }
    return std::nullopt;
}

} // namespace orvo
