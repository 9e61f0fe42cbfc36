#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include <QString>

#include "platform/linux/media/FFmpegHandles.h"

extern "C" {
#include <libavutil/audio_fifo.h>
}

namespace orvo {

// Encodes planar float samples as one AAC stream of a writer, in frames of the encoder's size.
class AacTrackEncoder {
public:
    // Adds the stream to writer, before its header. firstSample: the first frame's time, in
    // samples of rate.
    std::optional<QString> open(ffmpeg::FormatWriter& writer, int channels, int rate,
                                std::int64_t bitRate, std::int64_t firstSample = 0);
    const AVCodecContext* encoder() const { return encoder_.get(); }
    int streamIndex() const { return streamIndex_; }
    // Queues count samples (a plane per channel) and writes every whole frame.
    std::optional<QString> write(const std::uint8_t* const* planes, int count,
                                 ffmpeg::FormatWriter& writer);
    // The rest as a shorter last frame, and the encoder drained.
    std::optional<QString> finish(ffmpeg::FormatWriter& writer);

private:
    struct FifoDeleter {
        void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
    };

    std::optional<QString> encodeWhole(ffmpeg::FormatWriter& writer, bool atEnd);

    ffmpeg::CodecContext encoder_;
    std::unique_ptr<AVAudioFifo, FifoDeleter> fifo_;
    int streamIndex_ = -1;
    std::int64_t samples_ = 0;
};

} // namespace orvo
