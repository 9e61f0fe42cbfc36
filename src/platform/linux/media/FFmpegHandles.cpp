#include "platform/linux/media/FFmpegHandles.h"

#include <mutex>
#include <optional>

#include <QFileInfo>

#include "platform/linux/media/Mpeg4Boxes.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
}

namespace orvo::ffmpeg {

namespace {

// The demuxer of the MPEG-4 family: every segment and every merged file is one of these.
constexpr const char* readableFormats = "mov,mp4,m4a";
constexpr const char* readableDemuxer = "mov";
// What people bring from other programs: the common containers of sound and video, probed.
constexpr const char* foreignFormats =
    "mov,mp4,m4a,3gp,3g2,mj2,matroska,webm,mp3,wav,ogg,flac,aac,avi,asf,amr,caf,aiff,w64";

// FFmpeg sizes a file's tables by the counts the file claims, so a damaged one could take
// gigabytes. Nothing the program needs comes near this (a picture of three 4K screens takes
// 100 MB; the index of a ten-hour track, 40 MB).
constexpr std::size_t largestBlockBytes = 256u << 20;

// FFmpeg asks between reads whether to give up; one thread uses an input at a time.
struct ReadDeadline {
    std::chrono::milliseconds budget;
    std::chrono::steady_clock::time_point end;

    void arm() { end = std::chrono::steady_clock::now() + budget; }
};

int pastDeadline(void* opaque) {
    return std::chrono::steady_clock::now() >= static_cast<ReadDeadline*>(opaque)->end ? 1 : 0;
}

ReadDeadline* deadlineOf(const AVFormatContext* context) {
    return context->interrupt_callback.callback == &pastDeadline
               ? static_cast<ReadDeadline*>(context->interrupt_callback.opaque)
               : nullptr;
}

// Opens url, which shows FFmpeg the first `end` bytes of path, with only the given protocols
// and formats (demuxer: the one to use without probing, else null); code is FFmpeg's answer.
InputContext openUrl(const QByteArray& url, qint64 end, const char* protocols, const char* formats,
                     const char* demuxer, const QString& path, QString* error,
                     std::chrono::milliseconds budget, int* code) {
    if (!Mpeg4Boxes::tracksHaveIds(path, end)) {
        *error = QStringLiteral("cannot read %1: a track has no id").arg(path);
        *code = AVERROR_INVALIDDATA;
        return nullptr;
    }
    AVFormatContext* raw = avformat_alloc_context();
    if (raw == nullptr) {
        *error = QStringLiteral("no memory to open %1").arg(path);
        *code = AVERROR(ENOMEM);
        return nullptr;
    }
    auto deadline = std::make_unique<ReadDeadline>(ReadDeadline{budget, {}});
    raw->interrupt_callback = AVIOInterruptCB{&pastDeadline, deadline.get()};
    AVDictionary* options = nullptr;
    av_dict_set(&options, "format_whitelist", formats, 0);
    av_dict_set(&options, "protocol_whitelist", protocols, 0);
    deadline->arm();
    // On failure FFmpeg frees the context; the deadline is still ours.
    // Named, not probed: probing runs every demuxer's probe over the first bytes, which pulls
    // megabytes of their code and tables into memory for a format the list then refuses.
    *code =
        avformat_open_input(&raw, url.constData(),
                            demuxer != nullptr ? av_find_input_format(demuxer) : nullptr, &options);
    av_dict_free(&options);
    // A demuxer reading the header turns an interrupted read into "invalid data"; the time
    // being up is what happened.
    if (*code < 0 && pastDeadline(deadline.get()) != 0) {
        *code = AVERROR_EXIT;
    }
    if (*code < 0) {
        *error = QStringLiteral("cannot open %1: %2").arg(path, errorText(*code));
        return nullptr;
    }
    InputContext input(raw);
    deadline.release();
    *code = avformat_find_stream_info(input.get(), nullptr);
    if (*code < 0) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, errorText(*code));
        return nullptr;
    }
    return input;
}

} // namespace

void InputContextDeleter::operator()(AVFormatContext* context) const {
    std::unique_ptr<ReadDeadline> deadline(deadlineOf(context));
    avformat_close_input(&context);
}

void quietLogging() {
    av_log_set_level(AV_LOG_ERROR);
}

QString errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

Resampler makeResampler(const AudioFormat& from, const AudioFormat& to, int& error) {
    SwrContext* raw = nullptr;
    // FFmpeg 5.1 takes the layouts as pointers to non-const; it only reads them.
    error = swr_alloc_set_opts2(&raw, const_cast<AVChannelLayout*>(to.layout), to.sampleFormat,
                                to.rate, const_cast<AVChannelLayout*>(from.layout),
                                from.sampleFormat, from.rate, 0, nullptr);
    Resampler resampler(raw);
    if (error >= 0) {
        error = swr_init(resampler.get());
    }
    return error < 0 ? nullptr : std::move(resampler);
}

std::optional<QString> appendConverted(SwrContext* resampler, const float* input,
                                       std::int64_t frames, int channels, std::vector<float>& out) {
    const int room = swr_get_out_samples(resampler, int(frames));
    if (room < 0) {
        return QStringLiteral("cannot convert the audio: %1").arg(errorText(room));
    }
    const std::size_t offset = out.size();
    out.resize(offset + std::size_t(room) * std::size_t(channels));
    auto* target = reinterpret_cast<std::uint8_t*>(out.data() + offset);
    const auto* source = reinterpret_cast<const std::uint8_t*>(input);
    const int written =
        swr_convert(resampler, &target, room, input ? &source : nullptr, int(frames));
    if (written < 0) {
        out.resize(offset);
        return QStringLiteral("cannot convert the audio: %1").arg(errorText(written));
    }
    out.resize(offset + std::size_t(written) * std::size_t(channels));
    return std::nullopt;
}

InputContext openInput(const QString& path, QString* error, std::chrono::milliseconds budget) {
    static std::once_flag bounded;
    std::call_once(bounded, [] { av_max_alloc(largestBlockBytes); });
    const QByteArray native = path.toLocal8Bit();
    const qint64 size = QFileInfo(path).size();
    int code = 0;
    // No network, pipes or nested references, whatever the file's name or contents say.
    InputContext input =
        openUrl(native, size, "file", readableFormats, readableDemuxer, path, error, budget, &code);
    if (input || code == AVERROR_EXIT) {
        return input;
    }
    // A file cut off inside a box (a kill, a power cut or a full disk while a fragment was
    // written) is read up to its last whole box: FFmpeg refuses the whole file otherwise, and
    // so may the check of its tracks, whatever the cut-off box holds.
    const qint64 whole = Mpeg4Boxes::wholeBoxesEnd(path);
    if (whole <= 0 || whole >= size) {
        return nullptr;
    }
    const QByteArray prefix = "subfile,,start,0,end," + QByteArray::number(whole) + ",,:" + native;
    QString prefixError;
    return openUrl(prefix, whole, "subfile,file", readableFormats, readableDemuxer, path,
                   &prefixError, budget, &code);
}

InputContext openForeignInput(const QString& path, QString* error) {
    int code = 0;
    return openUrl(path.toLocal8Bit(), QFileInfo(path).size(), "file", foreignFormats, nullptr,
                   path, error, inputCallBudget, &code);
}

int readFrame(AVFormatContext* input, AVPacket* packet) {
    if (ReadDeadline* deadline = deadlineOf(input)) {
        deadline->arm();
    }
    return av_read_frame(input, packet);
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

std::optional<QString> FormatWriter::begin(bool fragmented, const FileTags& tags) {
    for (const auto& [key, value] : tags) {
        av_dict_set(&context_->metadata, key.constData(), value.constData(), 0);
    }
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

AVStream* addCopiedStream(FormatWriter& writer, const AVStream* source) {
    AVStream* stream = avformat_new_stream(writer.context(), nullptr);
    if (stream == nullptr || avcodec_parameters_copy(stream->codecpar, source->codecpar) < 0) {
        return nullptr;
    }
    // The source container's tag may mean nothing in the output's: the muxer picks its own.
    stream->codecpar->codec_tag = 0;
    stream->time_base = source->time_base;
    return stream;
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
