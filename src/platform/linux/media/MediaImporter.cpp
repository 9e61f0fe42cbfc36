#include "platform/linux/media/MediaImporter.h"

#include <QFile>

#include "platform/linux/media/AacTrackEncoder.h"
#include "platform/linux/media/FFmpegHandles.h"

namespace orvo {
namespace {

// What our recordings' sound is made at.
constexpr int outputRate = 48000;
constexpr std::int64_t outputBitRate = 128000;

// The streams of a file that an import keeps.
struct Probe {
    ffmpeg::InputContext input;
    int audio = -1;
    int video = -1; // -1: none, or one a .mov cannot carry
};

bool movCarries(const AVStream* stream) {
    static const AVOutputFormat* mov = av_guess_format("mov", nullptr, nullptr);
    return (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0 && mov != nullptr &&
           avformat_query_codec(mov, stream->codecpar->codec_id, FF_COMPLIANCE_NORMAL) == 1;
}

Probe probe(const QString& source, ImportPlan& plan) {
    Probe found;
    QString error;
    found.input = ffmpeg::openForeignInput(source, &error);
    if (!found.input) {
        plan.problem = ImportPlan::Problem::unreadable;
        return found;
    }
    AVFormatContext* input = found.input.get();
    found.audio = av_find_best_stream(input, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (found.audio < 0) {
        plan.problem = ImportPlan::Problem::noSound;
        return found;
    }
    if (avcodec_find_decoder(input->streams[found.audio]->codecpar->codec_id) == nullptr) {
        plan.problem = ImportPlan::Problem::unreadable;
        found.audio = -1;
        return found;
    }
    const int video = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video >= 0 && movCarries(input->streams[video])) {
        found.video = video;
    }
    plan.problem = ImportPlan::Problem::none;
    plan.kind = found.video >= 0 ? MediaType::video : MediaType::audio;
    return found;
}

// Decodes one audio stream and encodes it as AAC at our rate.
class AudioTranscoder {
public:
    AudioTranscoder() = default;
    AudioTranscoder(const AudioTranscoder&) = delete;
    AudioTranscoder& operator=(const AudioTranscoder&) = delete;
    ~AudioTranscoder() { av_channel_layout_uninit(&from_); }

    std::optional<QString> open(const AVStream* source, ffmpeg::FormatWriter& writer) {
        QString error;
        decoder_ = ffmpeg::openDecoder(source, &error);
        if (!decoder_) {
            return error;
        }
        // A file that does not say where its channels go (a WAV, often) gets the usual places.
        if (decoder_->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
            av_channel_layout_default(&from_, decoder_->ch_layout.nb_channels);
        } else {
            av_channel_layout_copy(&from_, &decoder_->ch_layout);
        }
        if (auto failed =
                encoder_.open(writer, from_.nb_channels == 1 ? 1 : 2, outputRate, outputBitRate)) {
            return failed;
        }
        const AVCodecContext* encoder = encoder_.encoder();
        int result = 0;
        resampler_ =
            ffmpeg::makeResampler({&from_, decoder_->sample_fmt, decoder_->sample_rate},
                                  {&encoder->ch_layout, encoder->sample_fmt, outputRate}, result);
        if (!resampler_) {
            return QStringLiteral("cannot convert the sound: %1").arg(ffmpeg::errorText(result));
        }
        return std::nullopt;
    }

    // packet nullptr: the end; everything left is encoded and the encoder drained.
    std::optional<QString> push(const AVPacket* packet, ffmpeg::FormatWriter& writer) {
        // A damaged packet loses its own sound, not the import.
        if (avcodec_send_packet(decoder_.get(), packet) < 0 && packet != nullptr) {
            return std::nullopt;
        }
        ffmpeg::Frame decoded = ffmpeg::makeFrame();
        while (avcodec_receive_frame(decoder_.get(), decoded.get()) >= 0) {
            if (auto error = resample(decoded.get(), writer)) {
                return error;
            }
        }
        if (packet != nullptr) {
            return std::nullopt;
        }
        if (auto error = resample(nullptr, writer)) {
            return error;
        }
        return encoder_.finish(writer);
    }

private:
    std::optional<QString> resample(AVFrame* decoded, ffmpeg::FormatWriter& writer) {
        if (decoded != nullptr && decoded->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
            av_channel_layout_uninit(&decoded->ch_layout);
            av_channel_layout_copy(&decoded->ch_layout, &from_);
        }
        const AVCodecContext* encoder = encoder_.encoder();
        ffmpeg::Frame converted = ffmpeg::makeFrame();
        av_channel_layout_copy(&converted->ch_layout, &encoder->ch_layout);
        converted->format = encoder->sample_fmt;
        converted->sample_rate = outputRate;
        const int result = swr_convert_frame(resampler_.get(), converted.get(), decoded);
        if (result < 0) {
            return QStringLiteral("cannot convert the sound: %1").arg(ffmpeg::errorText(result));
        }
        return encoder_.write(converted->data, converted->nb_samples, writer);
    }

    ffmpeg::CodecContext decoder_;
    AVChannelLayout from_{};
    AacTrackEncoder encoder_;
    ffmpeg::Resampler resampler_;
};

std::optional<QString> copyPicture(AVPacket* packet, const AVStream* source,
                                   ffmpeg::FormatWriter& writer, int streamIndex) {
    const std::int64_t start = source->start_time != AV_NOPTS_VALUE ? source->start_time : 0;
    if (packet->pts != AV_NOPTS_VALUE) {
        packet->pts -= start;
    }
    if (packet->dts != AV_NOPTS_VALUE) {
        packet->dts -= start;
    }
    packet->pos = -1;
    return writer.write(packet, source->time_base, streamIndex);
}

std::optional<QString> write(Probe& found, const QString& path,
                             const std::atomic<bool>& cancelled) {
    AVFormatContext* input = found.input.get();
    ffmpeg::FormatWriter writer;
    if (auto error = writer.open(path, found.video >= 0 ? "mov" : "ipod")) {
        return error;
    }
    const AVStream* picture = found.video >= 0 ? input->streams[found.video] : nullptr;
    const AVStream* pictureOut =
        picture != nullptr ? ffmpeg::addCopiedStream(writer, picture) : nullptr;
    if (picture != nullptr && pictureOut == nullptr) {
        return QStringLiteral("cannot add the picture");
    }
    AudioTranscoder sound;
    if (auto error = sound.open(input->streams[found.audio], writer)) {
        return error;
    }
    if (auto error = writer.begin(false)) {
        return error;
    }
    ffmpeg::Packet packet = ffmpeg::makePacket();
    int result = 0;
    while ((result = ffmpeg::readFrame(input, packet.get())) >= 0) {
        std::optional<QString> error;
        if (cancelled.load()) {
            error = QStringLiteral("cancelled");
        } else if (packet->stream_index == found.audio) {
            error = sound.push(packet.get(), writer);
        } else if (picture != nullptr && packet->stream_index == found.video) {
            error = copyPicture(packet.get(), picture, writer, pictureOut->index);
        }
        av_packet_unref(packet.get());
        if (error) {
            return error;
        }
    }
    if (result != AVERROR_EOF) {
        return QStringLiteral("cannot read: %1").arg(ffmpeg::errorText(result));
    }
    if (auto error = sound.push(nullptr, writer)) {
        return error;
    }
    return writer.finish();
}

} // namespace

ImportPlan MediaImporter::plan(const QString& source) {
    ImportPlan plan;
    probe(source, plan);
    return plan;
}

std::optional<QString> MediaImporter::import(const QString& source, const QString& destination,
                                             const std::atomic<bool>& cancelled) {
    ImportPlan plan;
    Probe found = probe(source, plan);
    if (plan.problem != ImportPlan::Problem::none) {
        return QStringLiteral("cannot read %1 as sound or video").arg(source);
    }
    const QString part = destination + ".part";
    std::optional<QString> error = write(found, part, cancelled);
    if (!error && !QFile::rename(part, destination)) {
        error = QStringLiteral("cannot create %1").arg(destination);
    }
    if (error) {
        QFile::remove(part);
    }
    return error;
}

} // namespace orvo
