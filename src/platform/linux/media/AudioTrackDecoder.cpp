#include "platform/linux/media/AudioTrackDecoder.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace orvo {

std::optional<QString> AudioTrackDecoder::open(const QString& path, std::optional<int> streamIndex,
                                               int rate, Format format) {
    ffmpeg::quietLogging();
    format_ = format;
    QString error;
    input_ = ffmpeg::openInput(path, &error);
    if (!input_) {
        return error;
    }
    streamIndex_ = streamIndex.value_or(
        av_find_best_stream(input_.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0));
    if (streamIndex_ < 0 || streamIndex_ >= static_cast<int>(input_->nb_streams) ||
        input_->streams[streamIndex_]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) {
        return QStringLiteral("no audio in %1").arg(path);
    }
    // The demuxer then skips the other tracks' packets instead of handing them over.
    for (unsigned i = 0; i < input_->nb_streams; ++i) {
        if (static_cast<int>(i) != streamIndex_) {
            input_->streams[i]->discard = AVDISCARD_ALL;
        }
    }
    decoder_ = ffmpeg::openDecoder(input_->streams[streamIndex_], &error);
    if (!decoder_) {
        return error;
    }
    AVChannelLayout inLayout{};
    if (decoder_->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        av_channel_layout_default(&inLayout, decoder_->ch_layout.nb_channels);
    } else {
        av_channel_layout_copy(&inLayout, &decoder_->ch_layout);
    }
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    int result = 0;
    resampler_ = ffmpeg::makeResampler(
        {&inLayout, decoder_->sample_fmt, decoder_->sample_rate},
        {&mono, format == Format::int16 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_FLT, rate}, result);
    av_channel_layout_uninit(&inLayout);
    if (!resampler_) {
        return QStringLiteral("cannot resample %1: %2").arg(path, ffmpeg::errorText(result));
    }
    if (!packet_ || !frame_) {
        return QStringLiteral("no memory for decoding");
    }
    return std::nullopt;
}

double AudioTrackDecoder::startSeconds() const {
    const AVStream* stream = input_->streams[streamIndex_];
    return stream->start_time == AV_NOPTS_VALUE
               ? 0.0
               : double(stream->start_time) * av_q2d(stream->time_base);
}

template <typename Sample>
bool AudioTrackDecoder::resample(const AVFrame* frame, std::vector<Sample>& samples) {
    const int inCount = frame != nullptr ? frame->nb_samples : 0;
    const int room = swr_get_out_samples(resampler_.get(), inCount);
    if (room <= 0) {
        return true;
    }
    const std::size_t before = samples.size();
    samples.resize(before + static_cast<std::size_t>(room));
    auto* out = reinterpret_cast<std::uint8_t*>(samples.data() + before);
    const int written = swr_convert(
        resampler_.get(), &out, room,
        frame != nullptr ? const_cast<const std::uint8_t**>(frame->extended_data) : nullptr,
        inCount);
    if (written < 0) {
        samples.resize(before);
        error_ = QStringLiteral("cannot resample: %1").arg(ffmpeg::errorText(written));
        return false;
    }
    samples.resize(before + static_cast<std::size_t>(written));
    return true;
}

bool AudioTrackDecoder::read(std::vector<std::int16_t>& samples) {
    return format_ == Format::int16 && readInto(samples);
}

bool AudioTrackDecoder::read(std::vector<float>& samples) {
    return format_ == Format::float32 && readInto(samples);
}

template <typename Sample> bool AudioTrackDecoder::readInto(std::vector<Sample>& samples) {
    while (!ended_ && !error_) {
        int result = avcodec_receive_frame(decoder_.get(), frame_.get());
        if (result == 0) {
            const bool resampled = resample(frame_.get(), samples);
            av_frame_unref(frame_.get());
            return resampled;
        }
        if (result == AVERROR_EOF) {
            ended_ = true;
            const std::size_t before = samples.size();
            return resample(nullptr, samples) && samples.size() > before;
        }
        if (result != AVERROR(EAGAIN)) {
            error_ = QStringLiteral("cannot decode: %1").arg(ffmpeg::errorText(result));
            return false;
        }
        if (inputEnded_) {
            error_ = QStringLiteral("the decoder wants input after the end");
            return false;
        }
        result = ffmpeg::readFrame(input_.get(), packet_.get());
        if (result == AVERROR_EOF) {
            inputEnded_ = true;
            result = avcodec_send_packet(decoder_.get(), nullptr);
        } else if (result < 0) {
            error_ = QStringLiteral("cannot read: %1").arg(ffmpeg::errorText(result));
            return false;
        } else {
            if (packet_->stream_index == streamIndex_) {
                result = avcodec_send_packet(decoder_.get(), packet_.get());
            }
            av_packet_unref(packet_.get());
        }
        // A damaged packet is skipped, as players do.
        if (result < 0 && result != AVERROR_INVALIDDATA) {
            error_ = QStringLiteral("cannot decode: %1").arg(ffmpeg::errorText(result));
            return false;
        }
    }
    return false;
}

} // namespace orvo
