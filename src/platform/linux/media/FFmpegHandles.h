#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QString>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace orvo::ffmpeg {

// Owners of FFmpeg objects. An output context closes its file after the caller wrote the
// trailer (FormatWriter below does both, in that order). An input context of openInput owns
// its read deadline too, released after the context that may still ask it.
struct InputContextDeleter {
    void operator()(AVFormatContext* context) const;
};
struct OutputContextDeleter {
    void operator()(AVFormatContext* context) const {
        if (context->pb != nullptr && (context->oformat->flags & AVFMT_NOFILE) == 0) {
            avio_closep(&context->pb);
        }
        avformat_free_context(context);
    }
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ScaleDeleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
struct ResamplerDeleter {
    void operator()(SwrContext* context) const { swr_free(&context); }
};
struct FilterGraphDeleter {
    void operator()(AVFilterGraph* graph) const { avfilter_graph_free(&graph); }
};

using InputContext = std::unique_ptr<AVFormatContext, InputContextDeleter>;
using OutputContext = std::unique_ptr<AVFormatContext, OutputContextDeleter>;
using CodecContext = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using Frame = std::unique_ptr<AVFrame, FrameDeleter>;
using Packet = std::unique_ptr<AVPacket, PacketDeleter>;
using ScaleContext = std::unique_ptr<SwsContext, ScaleDeleter>;
using Resampler = std::unique_ptr<SwrContext, ResamplerDeleter>;
using FilterGraph = std::unique_ptr<AVFilterGraph, FilterGraphDeleter>;

// One end of a conversion of audio.
struct AudioFormat {
    const AVChannelLayout* layout;
    AVSampleFormat sampleFormat;
    int rate;
};

// A resampler set up to convert from one format to the other; null, with FFmpeg's error code
// in error, when it cannot be.
Resampler makeResampler(const AudioFormat& from, const AudioFormat& to, int& error);

// Converts frames of interleaved float samples with resampler (input nullptr: what it still
// holds) and appends what comes out to out, an output of one plane with channels samples a frame
// (interleaved, or a single channel). out is left as it was on an error.
std::optional<QString> appendConverted(SwrContext* resampler, const float* input,
                                       std::int64_t frames, int channels, std::vector<float>& out);

inline Frame makeFrame() {
    return Frame(av_frame_alloc());
}
inline Packet makePacket() {
    return Packet(av_packet_alloc());
}

// Keeps FFmpeg's own chatter off the console: errors travel as our messages.
void quietLogging();

// The text of an FFmpeg error code.
QString errorText(int code);

// Metadata key of a segment's start on the recording's shared clock, in microseconds since
// the Unix epoch, written by the capture and read by the export.
inline constexpr const char* captureStartKey = "org.orvo.capture-start";
// Metadata key of what the user listened through while the call was recorded
// (outputKindName), written by the export when known and read by the transcription.
inline constexpr const char* userOutputKey = "org.orvo.output";

// Metadata key saying that the near side's track ("You") no longer carries the far side's echo
// (value echoRemovedValue), written by the echo removal and the merge of a recording, read by
// the transcription.
inline constexpr const char* nearSideEchoKey = "org.orvo.echo";
inline constexpr const char* echoRemovedValue = "removed";

// Metadata of a whole file: key, value.
using FileTags = std::map<QByteArray, QByteArray>;

// How long one blocking call on an input (the open with its probe, or one packet) may take:
// a damaged file or a stalled disk must not hold a merge or a transcription for ever.
inline constexpr std::chrono::milliseconds inputCallBudget{10000};

// Opens a local file for reading and probes its streams; nullptr and error set when it cannot.
// Only the container our recordings are written in is read (what the program never writes is
// refused rather than handed to a demuxer), up to its last whole box when it was cut off
// inside one, and each call on it gives up after budget.
InputContext openInput(const QString& path, QString* error,
                       std::chrono::milliseconds budget = inputCallBudget);

// A file the user brought from elsewhere: the common containers of sound and video, probed,
// from the file protocol only, each call with the usual budget.
InputContext openForeignInput(const QString& path, QString* error);

// av_read_frame on an input of openInput, with the budget of a call afresh.
int readFrame(AVFormatContext* input, AVPacket* packet);

// An opened decoder for one stream of an input.
CodecContext openDecoder(const AVStream* stream, QString* error);

// The context of the named encoder, not yet opened; null with the reason in error when there
// is no such encoder or no memory for it.
CodecContext makeEncoder(const char* name, QString* error);

// A muxer writing one file: open, add streams, begin (header), write packets, finish (trailer).
class FormatWriter {
public:
    // formatName: the muxer ("ipod", "mov", "mp4"). nullopt on success, else the error.
    std::optional<QString> open(const QString& path, const char* formatName);
    AVFormatContext* context() const { return context_.get(); }
    // Adds a stream carrying what encoder produces; nullptr on failure.
    AVStream* addStream(const AVCodecContext* encoder);
    // fragmented: fragments of half a second flushed at once, so a killed process leaves a
    // file that plays up to its last second.
    std::optional<QString> begin(bool fragmented, const FileTags& tags = {});
    // packet in timeBase; the writer takes its contents.
    std::optional<QString> write(AVPacket* packet, AVRational timeBase, int streamIndex);
    std::optional<QString> finish();
    bool begun() const { return begun_; }

private:
    OutputContext context_;
    bool begun_ = false;
};

// A stream of writer that carries source's packets as they are; nullptr on failure.
AVStream* addCopiedStream(FormatWriter& writer, const AVStream* source);

// The first step of a capture segment: opens path for formatName and makes the named encoder
// for it; null with the reason in error when either fails.
CodecContext openSegment(FormatWriter& writer, const QString& path, const char* formatName,
                         const char* encoderName, QString* error);

// The start of a capture segment, the same for every kind of media: opens encoder (its
// settings made, with options, which it frees) for writer's format, adds its stream, marks
// the file's start on the recording clock and writes the header of a fragmented file. kind
// names the encoder in errors ("AAC", "H.264").
std::optional<QString> beginSegment(FormatWriter& writer, AVCodecContext* encoder,
                                    AVDictionary** options, const char* kind,
                                    std::int64_t startEpochMicroseconds);

// Wants the encoder's packets and hands them to the writer. frame nullptr drains.
std::optional<QString> encodeAndWrite(AVCodecContext* encoder, const AVFrame* frame,
                                      FormatWriter& writer, int streamIndex);

} // namespace orvo::ffmpeg
