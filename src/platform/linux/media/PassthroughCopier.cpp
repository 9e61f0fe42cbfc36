#include "platform/linux/media/PassthroughCopier.h"

#include <cmath>
#include <map>

#include "platform/linux/media/FFmpegHandles.h"

namespace orvo {

namespace {

// One segment being read, with its next packet waiting.
struct Reader {
    ffmpeg::InputContext input;
    int stream = -1;
    int outputStream = -1;
    MediaTimeRange range;
    double startSeconds = 0.0;
    ffmpeg::Packet next = ffmpeg::makePacket();
    bool hasNext = false;
    double nextSeconds = 0.0; // output time of the waiting packet

    AVRational timeBase() const { return input->streams[stream]->time_base; }

    // Reads this segment's next packet inside its range; false at the end.
    bool advance() {
        const double tb = av_q2d(timeBase());
        while (ffmpeg::readFrame(input.get(), next.get()) >= 0) {
            if (next->stream_index != stream) {
                av_packet_unref(next.get());
                continue;
            }
            const std::int64_t stamp = next->pts != AV_NOPTS_VALUE ? next->pts : next->dts;
            const double seconds = stamp == AV_NOPTS_VALUE ? 0.0 : double(stamp) * tb;
            if (range.startSeconds > 0.0 &&
                seconds + double(next->duration) * tb <= range.startSeconds) {
                av_packet_unref(next.get());
                continue;
            }
            if (seconds >= range.endSeconds()) {
                av_packet_unref(next.get());
                break;
            }
            const std::int64_t dts = next->dts != AV_NOPTS_VALUE ? next->dts : stamp;
            nextSeconds = double(dts) * tb - range.startSeconds + startSeconds;
            hasNext = true;
            return true;
        }
        hasNext = false;
        return false;
    }
};

// Players show a track's name from its handler (the only name the M4A muxer keeps) or from
// its title.
void label(AVStream* stream, const PassthroughCopier::Track& track) {
    if (!track.title.isEmpty()) {
        const QByteArray title = track.title.toUtf8();
        av_dict_set(&stream->metadata, "title", title.constData(), 0);
        av_dict_set(&stream->metadata, "handler_name", title.constData(), 0);
    }
    stream->disposition = track.enabled ? AV_DISPOSITION_DEFAULT : 0;
}

} // namespace

std::optional<QString> PassthroughCopier::copy(const std::vector<Input>& inputs,
                                               const std::vector<Track>& tracks,
                                               const QString& path, const char* muxer,
                                               const std::atomic<bool>& cancelled,
                                               const ffmpeg::FileTags& tags) {
    if (inputs.empty()) {
        return QStringLiteral("the composition has no media");
    }
    ffmpeg::FormatWriter writer;
    if (auto error = writer.open(path, muxer)) {
        return error;
    }
    std::vector<Reader> readers(inputs.size());
    std::map<int, const AVCodecParameters*> trackParameters;
    const auto trackCount = int(tracks.size());
    std::vector<int> outputOfTrack(tracks.size(), -1);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const Input& input = inputs[i];
        Reader& reader = readers[i];
        QString error;
        reader.input = ffmpeg::openInput(input.segment.source.sourcePath, &error);
        if (!reader.input) {
            return error;
        }
        reader.stream = input.segment.source.streamIndex;
        if (reader.stream < 0 || unsigned(reader.stream) >= reader.input->nb_streams) {
            return QStringLiteral("%1 has no such track").arg(input.segment.source.sourcePath);
        }
        const AVCodecParameters* parameters = reader.input->streams[reader.stream]->codecpar;
        if (input.track < 0 || input.track >= trackCount) {
            return QStringLiteral("a segment lies outside the composition's tracks");
        }
        int& output = outputOfTrack[std::size_t(input.track)];
        if (output < 0) {
            AVStream* stream = avformat_new_stream(writer.context(), nullptr);
            if (stream == nullptr || avcodec_parameters_copy(stream->codecpar, parameters) < 0) {
                return QStringLiteral("cannot add a stream");
            }
            stream->codecpar->codec_tag = 0;
            stream->time_base = reader.timeBase();
            label(stream, tracks[std::size_t(input.track)]);
            output = stream->index;
            trackParameters[output] = parameters;
        } else if (trackParameters[output]->codec_id != parameters->codec_id) {
            return QStringLiteral("the segments of one track differ in their coding");
        }
        reader.outputStream = output;
        reader.range = input.segment.sourceRange;
        reader.startSeconds = input.startSeconds;
    }
    if (auto error = writer.begin(false, tags)) {
        return error;
    }
    for (Reader& reader : readers) {
        reader.advance();
    }
    std::int64_t written = 0;
    while (true) {
        if (cancelled) {
            return QStringLiteral("cancelled");
        }
        Reader* next = nullptr;
        for (Reader& reader : readers) {
            if (reader.hasNext && (next == nullptr || reader.nextSeconds < next->nextSeconds)) {
                next = &reader;
            }
        }
        if (next == nullptr) {
            break;
        }
        const AVRational timeBase = next->timeBase();
        const auto shift = std::int64_t(
            std::llround((next->startSeconds - next->range.startSeconds) / av_q2d(timeBase)));
        if (next->next->pts != AV_NOPTS_VALUE) {
            next->next->pts += shift;
        }
        if (next->next->dts != AV_NOPTS_VALUE) {
            next->next->dts += shift;
        }
        next->next->pos = -1;
        if (auto error = writer.write(next->next.get(), timeBase, next->outputStream)) {
            return error;
        }
        ++written;
        next->advance();
    }
    if (written == 0) {
        return QStringLiteral("the composition's tracks hold no media");
    }
    return writer.finish();
}

} // namespace orvo
