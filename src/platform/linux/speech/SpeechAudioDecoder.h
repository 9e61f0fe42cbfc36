#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QString>

#include "platform/linux/media/FFmpegHandles.h"

namespace orvo {

// Reads one audio track of a media file (by default the file's default one) as 16 kHz mono signed
// 16-bit samples, the input of the speech decoder. One thread at a time.
class SpeechAudioDecoder {
public:
    static constexpr int sampleRate = 16000;

    // nullopt when the file is open, else why not.
    std::optional<QString> open(const QString& path, std::optional<int> streamIndex = {});
    // Appends the next samples; false once the audio has ended or failed (see error()).
    bool read(std::vector<std::int16_t>& samples);
    const std::optional<QString>& error() const { return error_; }

private:
    bool resample(const AVFrame* frame, std::vector<std::int16_t>& samples);

    ffmpeg::InputContext input_;
    ffmpeg::CodecContext decoder_;
    ffmpeg::Resampler resampler_;
    ffmpeg::Packet packet_ = ffmpeg::makePacket();
    ffmpeg::Frame frame_ = ffmpeg::makeFrame();
    int streamIndex_ = -1;
    bool inputEnded_ = false;
    bool ended_ = false;
    std::optional<QString> error_;
};

} // namespace orvo
