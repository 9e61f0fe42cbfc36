#include "platform/linux/FFmpegHandles.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace orvo::ffmpeg {

void quietLogging() {
    av_log_set_level(AV_LOG_ERROR);
}

QString errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

InputContext openInput(const QString& path, QString* error) {
    AVFormatContext* raw = nullptr;
    const QByteArray native = path.toLocal8Bit();
    int result = avformat_open_input(&raw, native.constData(), nullptr, nullptr);
    if (result < 0) {
        *error = QStringLiteral("cannot open %1: %2").arg(path, errorText(result));
        return nullptr;
    }
    InputContext input(raw);
    result = avformat_find_stream_info(input.get(), nullptr);
    if (result < 0) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, errorText(result));
        return nullptr;
    }
    return input;
}

CodecContext makeEncoder(const char* name, QString* error) {
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (codec == nullptr) {
        *error = QStringLiteral("no %1 encoder").arg(QString::fromLatin1(name));
        return nullptr;
    }
    CodecContext encoder(avcodec_alloc_context3(codec));
    if (!encoder) {
        *error = QStringLiteral("no memory for the %1 encoder").arg(QString::fromLatin1(name));
    }
    return encoder;
}

CodecContext openDecoder(const AVStream* stream, QString* error) {
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (codec == nullptr) {
        *error =
            QStringLiteral("no decoder for %1").arg(avcodec_get_name(stream->codecpar->codec_id));
        return nullptr;
    }
    CodecContext decoder(avcodec_alloc_context3(codec));
    if (!decoder) {
        *error = QStringLiteral("no memory for a decoder");
        return nullptr;
    }
    int result = avcodec_parameters_to_context(decoder.get(), stream->codecpar);
    if (result >= 0) {
        decoder->pkt_timebase = stream->time_base;
        result = avcodec_open2(decoder.get(), codec, nullptr);
    }
    if (result < 0) {
        *error = QStringLiteral("cannot open the decoder: %1").arg(errorText(result));
        return nullptr;
    }
    return decoder;
}

std::optional<QString> FormatWriter::open(const QString& path, const char* formatName) {
    AVFormatContext* raw = nullptr;
    const QByteArray native = path.toLocal8Bit();
    int result = avformat_alloc_output_context2(&raw, nullptr, formatName, native.constData());
    if (result < 0) {
        return QStringLiteral("no muxer %1: %2").arg(formatName, errorText(result));
    }
    context_.reset(raw);
    result = avio_open(&context_->pb, native.constData(), AVIO_FLAG_WRITE);
    if (result < 0) {
        return QStringLiteral("cannot create %1: %2").arg(path, errorText(result));
    }
    return std::nullopt;
}

AVStream* FormatWriter::addStream(const AVCodecContext* encoder) {
    AVStream* stream = avformat_new_stream(context_.get(), nullptr);
    if (stream == nullptr || avcodec_parameters_from_context(stream->codecpar, encoder) < 0) {
        return nullptr;
    }
    stream->time_base = encoder->time_base;
    return stream;
}

std::optional<QString> FormatWriter::begin(bool fragmented) {
    AVDictionary* options = nullptr;
    if (fragmented) {
        // frag_keyframe alone writes no fragment for audio; the duration does. Half a second,
        // not one: a source may deliver its audio half a second late, and a killed process
        // should still leave all but about its last second.
        av_dict_set(&options, "movflags",
                    "+frag_keyframe+empty_moov+default_base_moof+use_metadata_tags", 0);
        av_dict_set(&options, "frag_duration", "500000", 0);
        av_dict_set(&options, "flush_packets", "1", 0);
    } else {
        // The index at the front: a player starts at once instead of reading to the end.
        av_dict_set(&options, "movflags", "+use_metadata_tags+faststart", 0);
    }
    const int result = avformat_write_header(context_.get(), &options);
    av_dict_free(&options);
    if (result < 0) {
        return QStringLiteral("cannot write the header: %1").arg(errorText(result));
    }
    begun_ = true;
    return std::nullopt;
}

std::optional<QString> FormatWriter::write(AVPacket* packet, AVRational timeBase, int streamIndex) {
    packet->stream_index = streamIndex;
    av_packet_rescale_ts(packet, timeBase, context_->streams[streamIndex]->time_base);
    const int result = av_interleaved_write_frame(context_.get(), packet);
    if (result < 0) {
        return QStringLiteral("cannot write: %1").arg(errorText(result));
    }
    return std::nullopt;
}

std::optional<QString> FormatWriter::finish() {
    if (!begun_) {
        return std::nullopt;
    }
    begun_ = false;
    const int result = av_write_trailer(context_.get());
    context_.reset();
    if (result < 0) {
        return QStringLiteral("cannot finish the file: %1").arg(errorText(result));
    }
    return std::nullopt;
}

std::optional<QString> encodeAndWrite(AVCodecContext* encoder, const AVFrame* frame,
                                      FormatWriter& writer, int streamIndex) {
    int result = avcodec_send_frame(encoder, frame);
    if (result < 0 && !(frame == nullptr && result == AVERROR_EOF)) {
        return QStringLiteral("cannot encode: %1").arg(errorText(result));
    }
    Packet packet = makePacket();
    while ((result = avcodec_receive_packet(encoder, packet.get())) >= 0) {
        if (auto error = writer.write(packet.get(), encoder->time_base, streamIndex)) {
            return error;
        }
    }
    if (result != AVERROR(EAGAIN) && result != AVERROR_EOF) {
        return QStringLiteral("cannot encode: %1").arg(errorText(result));
    }
    return std::nullopt;
}

CodecContext openSegment(FormatWriter& writer, const QString& path, const char* formatName,
                         const char* encoderName, QString* error) {
    if (auto failure = writer.open(path, formatName)) {
        *error = *failure;
        return nullptr;
    }
    return makeEncoder(encoderName, error);
}

std::optional<QString> beginSegment(FormatWriter& writer, AVCodecContext* encoder,
                                    AVDictionary** options, const char* kind,
                                    std::int64_t startEpochMicroseconds) {
    if (writer.context()->oformat->flags & AVFMT_GLOBALHEADER) {
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    const int result = avcodec_open2(encoder, nullptr, options);
    av_dict_free(options);
    if (result < 0) {
        return QStringLiteral("cannot open the %1 encoder: %2").arg(kind, errorText(result));
    }
    if (writer.addStream(encoder) == nullptr) {
        return QStringLiteral("cannot add the %1 stream").arg(kind);
    }
    av_dict_set(&writer.context()->metadata, captureStartKey,
                QByteArray::number(qint64(startEpochMicroseconds)).constData(), 0);
    return writer.begin(true);
}

} // namespace orvo::ffmpeg
