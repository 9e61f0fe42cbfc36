#include "platform/linux/media/AudioMixer.h"

#include <algorithm>
#include <cmath>
#include <memory>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
}

#include "platform/linux/media/FFmpegHandles.h"

namespace orvo {

namespace {

struct InOutDeleter {
    void operator()(AVFilterInOut* list) const { avfilter_inout_free(&list); }
};
using InOut = std::unique_ptr<AVFilterInOut, InOutDeleter>;

// One decoded segment feeding the graph.
struct Source {
    ffmpeg::InputContext input;
    ffmpeg::CodecContext decoder;
    int stream = -1;
    AVFilterContext* buffer = nullptr; // owned by the graph
    double fedSeconds = 0.0;
    bool finished = false;
};

std::optional<QString> openSource(const AudioMixer::Input& input, Source& source) {
    QString error;
    source.input = ffmpeg::openInput(input.segment.source.sourcePath, &error);
    if (!source.input) {
        return error;
    }
    source.stream = input.segment.source.streamIndex;
    if (source.stream < 0 || unsigned(source.stream) >= source.input->nb_streams ||
        source.input->streams[source.stream]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) {
        return QStringLiteral("%1 has no such audio track").arg(input.segment.source.sourcePath);
    }
    source.decoder = ffmpeg::openDecoder(source.input->streams[source.stream], &error);
    if (!source.decoder) {
        return error;
    }
    return std::nullopt;
}

std::optional<QString> push(Source& source, AVFrame* frame) {
    if (frame != nullptr) {
        frame->pts = frame->best_effort_timestamp;
        if (frame->pts != AV_NOPTS_VALUE) {
            source.fedSeconds = double(frame->pts + frame->nb_samples) *
                                av_q2d(source.input->streams[source.stream]->time_base);
        }
    }
    const int result = av_buffersrc_add_frame(source.buffer, frame);
    if (result < 0) {
        return QStringLiteral("cannot mix: %1").arg(ffmpeg::errorText(result));
    }
    return std::nullopt;
}

// Decodes until at least one frame went into the graph, or the source ended.
std::optional<QString> feed(Source& source) {
    ffmpeg::Packet packet = ffmpeg::makePacket();
    ffmpeg::Frame frame = ffmpeg::makeFrame();
    while (true) {
        const int read = ffmpeg::readFrame(source.input.get(), packet.get());
        if (read < 0) {
            // The end, or the cut-off tail of a killed recording: both end the source.
            avcodec_send_packet(source.decoder.get(), nullptr);
            while (avcodec_receive_frame(source.decoder.get(), frame.get()) >= 0) {
                if (auto error = push(source, frame.get())) {
                    return error;
                }
            }
            source.finished = true;
            return push(source, nullptr);
        }
        if (packet->stream_index != source.stream) {
            av_packet_unref(packet.get());
            continue;
        }
        // A damaged packet is skipped; the rest still decodes.
        avcodec_send_packet(source.decoder.get(), packet.get());
        av_packet_unref(packet.get());
        bool fed = false;
        while (avcodec_receive_frame(source.decoder.get(), frame.get()) >= 0) {
            if (auto error = push(source, frame.get())) {
                return error;
            }
            fed = true;
        }
        if (fed) {
            return std::nullopt;
        }
    }
}

QString bufferArguments(const Source& source) {
    char layout[128] = {};
    AVChannelLayout channels{};
    if (source.decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        av_channel_layout_default(&channels, source.decoder->ch_layout.nb_channels);
    } else {
        av_channel_layout_copy(&channels, &source.decoder->ch_layout);
    }
    av_channel_layout_describe(&channels, layout, sizeof layout);
    av_channel_layout_uninit(&channels);
    const AVRational timeBase = source.input->streams[source.stream]->time_base;
    return QStringLiteral("time_base=%1/%2:sample_rate=%3:sample_fmt=%4:channel_layout=%5")
        .arg(timeBase.num)
        .arg(timeBase.den)
        .arg(source.decoder->sample_rate)
        .arg(av_get_sample_fmt_name(source.decoder->sample_fmt))
        .arg(layout);
}

} // namespace

QString AudioMixer::filterDescription(const std::vector<Input>& inputs) {
    QString description;
    QString mixInputs;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const Input& input = inputs[i];
        const MediaTimeRange range = input.segment.sourceRange;
        const auto delay = std::llround(std::max(0.0, input.startSeconds) * sampleRate);
        description += QStringLiteral("[in%1]atrim=start=%2:end=%3,asetpts=PTS-STARTPTS,"
                                      "aresample=%4,aformat=sample_fmts=fltp:channel_layouts="
                                      "stereo,adelay=delays=%5S:all=1[a%1];")
                           .arg(i)
                           .arg(range.startSeconds, 0, 'f', 6)
                           .arg(range.endSeconds(), 0, 'f', 6)
                           .arg(sampleRate)
                           .arg(delay);
        mixInputs += QStringLiteral("[a%1]").arg(i);
    }
    // A plain sum (normalize=0): quiet sources keep their level; the limiter catches peaks.
    description += QStringLiteral("%1amix=inputs=%2:duration=longest:dropout_transition=0:"
                                  "normalize=0,alimiter=limit=%3:level=0:latency=1,"
                                  "aformat=sample_fmts=fltp:sample_rates=%4:channel_layouts="
                                  "stereo[out]")
                       .arg(mixInputs)
                       .arg(inputs.size())
                       .arg(ceiling)
                       .arg(sampleRate);
    return description;
}

int AudioMixer::outputBitRate(const std::vector<std::int64_t>& sourceBitRates) {
    std::int64_t highest = 128000;
    if (!sourceBitRates.empty()) {
        highest = *std::max_element(sourceBitRates.begin(), sourceBitRates.end());
    }
    return int(std::clamp<std::int64_t>(highest, 64000, 256000));
}

std::optional<QString> AudioMixer::mix(const std::vector<Input>& inputs, const QString& path,
                                       const char* muxer, const std::atomic<bool>& cancelled,
                                       const ffmpeg::FileTags& tags) {
    if (inputs.empty()) {
        return QStringLiteral("the composition has no audio");
    }
    std::vector<Source> sources(inputs.size());
    std::vector<std::int64_t> bitRates;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (auto error = openSource(inputs[i], sources[i])) {
            return error;
        }
        const std::int64_t rate = sources[i].input->streams[sources[i].stream]->codecpar->bit_rate;
        if (rate > 0) {
            bitRates.push_back(rate);
        }
    }

    ffmpeg::FilterGraph graph(avfilter_graph_alloc());
    AVFilterContext* sink = nullptr;
    int result = avfilter_graph_create_filter(&sink, avfilter_get_by_name("abuffersink"), "out",
                                              nullptr, nullptr, graph.get());
    if (result < 0) {
        return QStringLiteral("cannot build the mix: %1").arg(ffmpeg::errorText(result));
    }
    InOut openOutputs;
    for (std::size_t i = sources.size(); i-- > 0;) {
        const QByteArray name = QStringLiteral("in%1").arg(i).toUtf8();
        const QByteArray arguments = bufferArguments(sources[i]).toUtf8();
        result = avfilter_graph_create_filter(&sources[i].buffer, avfilter_get_by_name("abuffer"),
                                              name.constData(), arguments.constData(), nullptr,
                                              graph.get());
        if (result < 0) {
            return QStringLiteral("cannot build the mix: %1").arg(ffmpeg::errorText(result));
        }
        InOut entry(avfilter_inout_alloc());
        if (!entry) {
            return QStringLiteral("cannot build the mix: no memory");
        }
        entry->name = av_strdup(name.constData());
        entry->filter_ctx = sources[i].buffer;
        entry->pad_idx = 0;
        entry->next = openOutputs.release();
        openOutputs = std::move(entry);
    }
    InOut openInputs(avfilter_inout_alloc());
    if (!openInputs) {
        return QStringLiteral("cannot build the mix: no memory");
    }
    openInputs->name = av_strdup("out");
    openInputs->filter_ctx = sink;
    openInputs->pad_idx = 0;
    openInputs->next = nullptr;
    const QByteArray description = filterDescription(inputs).toUtf8();
    AVFilterInOut* inputsList = openInputs.release();
    AVFilterInOut* outputsList = openOutputs.release();
    result = avfilter_graph_parse_ptr(graph.get(), description.constData(), &inputsList,
                                      &outputsList, nullptr);
    openInputs.reset(inputsList);
    openOutputs.reset(outputsList);
    if (result >= 0) {
        result = avfilter_graph_config(graph.get(), nullptr);
    }
    if (result < 0) {
        return QStringLiteral("cannot build the mix: %1").arg(ffmpeg::errorText(result));
    }

    ffmpeg::FormatWriter writer;
    if (auto error = writer.open(path, muxer)) {
        return error;
    }
    QString error;
    ffmpeg::CodecContext encoder = ffmpeg::makeEncoder("aac", &error);
    if (!encoder) {
        return error;
    }
    encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
    encoder->sample_rate = sampleRate;
    av_channel_layout_default(&encoder->ch_layout, 2);
    encoder->bit_rate = outputBitRate(bitRates);
    encoder->time_base = AVRational{1, sampleRate};
    if (writer.context()->oformat->flags & AVFMT_GLOBALHEADER) {
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    result = avcodec_open2(encoder.get(), nullptr, nullptr);
    if (result < 0) {
        return QStringLiteral("cannot open the AAC encoder: %1").arg(ffmpeg::errorText(result));
    }
    av_buffersink_set_frame_size(sink, unsigned(encoder->frame_size));
    if (writer.addStream(encoder.get()) == nullptr) {
        return QStringLiteral("cannot add the audio stream");
    }
    if (auto error = writer.begin(false, tags)) {
        return error;
    }

    // The mix ends where its longest input does, whatever the timestamps of a damaged segment
    // make of the gaps in between: the filters would fill them with silence, for hours.
    double endSeconds = 0.0;
    for (const Input& input : inputs) {
        endSeconds = std::max(endSeconds, std::max(0.0, input.startSeconds) +
                                              input.segment.sourceRange.durationSeconds);
    }
    const auto endSample = std::int64_t(std::llround(endSeconds * sampleRate));
    ffmpeg::Frame mixed = ffmpeg::makeFrame();
    std::int64_t position = 0;
    auto drain = [&]() -> std::optional<QString> {
        int got = 0;
        while (position < endSample && (got = av_buffersink_get_frame(sink, mixed.get())) >= 0) {
            mixed->nb_samples =
                int(std::min<std::int64_t>(mixed->nb_samples, endSample - position));
            mixed->pts = position;
            position += mixed->nb_samples;
            auto error = ffmpeg::encodeAndWrite(encoder.get(), mixed.get(), writer, 0);
            av_frame_unref(mixed.get());
            if (error) {
                return error;
            }
        }
        if (position < endSample && got != AVERROR(EAGAIN) && got != AVERROR_EOF) {
            return QStringLiteral("cannot mix: %1").arg(ffmpeg::errorText(got));
        }
        return std::nullopt;
    };
    while (true) {
        if (cancelled) {
            return QStringLiteral("cancelled");
        }
        // The source furthest behind goes next, so the mixer never holds much.
        Source* next = nullptr;
        for (Source& source : sources) {
            if (!source.finished && (next == nullptr || source.fedSeconds < next->fedSeconds)) {
                next = &source;
            }
        }
        if (next == nullptr || position >= endSample) {
            break;
        }
        if (auto error = feed(*next)) {
            return error;
        }
        if (auto error = drain()) {
            return error;
        }
    }
    if (auto error = drain()) {
        return error;
    }
    if (position == 0) {
        return QStringLiteral("the composition's audio holds no sound");
    }
    if (auto error = ffmpeg::encodeAndWrite(encoder.get(), nullptr, writer, 0)) {
        return error;
    }
    return writer.finish();
}

} // namespace orvo
