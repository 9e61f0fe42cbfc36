#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QString>

#include "platform/linux/media/FFmpegHandles.h"

namespace orvo {

// Reads one audio track of a media file (by default the file's default one) as mono samples at
// a rate of the caller's, signed 16-bit or float. One thread at a time.
class AudioTrackDecoder {
public:
    enum class Format { int16, float32 };

    // nullopt when the file is open, else why not.
    std::optional<QString> open(const QString& path, std::optional<int> streamIndex, int rate,
                                Format format);
    // Append the next samples, in the format opened; false once the audio has ended or failed
    // (see error()).
    bool read(std::vector<std::int16_t>& samples);
    bool read(std::vector<float>& samples);
    const std::optional<QString>& error() const { return error_; }
    // The track's first sample on the file's clock, in seconds.
    double startSeconds() const;

private:
    template <typename Sample> bool readInto(std::vector<Sample>& samples);
    template <typename Sample> bool resample(const AVFrame* frame, std::vector<Sample>& samples);

    ffmpeg::InputContext input_;
    ffmpeg::CodecContext decoder_;
    ffmpeg::Resampler resampler_;
    ffmpeg::Packet packet_ = ffmpeg::makePacket();
    ffmpeg::Frame frame_ = ffmpeg::makeFrame();
    Format format_ = Format::int16;
    int streamIndex_ = -1;
    bool inputEnded_ = false;
    bool ended_ = false;
    std::optional<QString> error_;
};

} // namespace orvo
