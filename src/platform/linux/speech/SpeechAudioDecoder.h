#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QString>

#include "platform/linux/media/AudioTrackDecoder.h"

namespace orvo {

// Reads one audio track of a media file (by default the file's default one) as 16 kHz mono signed
// 16-bit samples, the input of the speech decoder. One thread at a time.
class SpeechAudioDecoder {
public:
    static constexpr int sampleRate = 16000;

    // nullopt when the file is open, else why not.
    std::optional<QString> open(const QString& path, std::optional<int> streamIndex = {}) {
        return decoder_.open(path, streamIndex, sampleRate, AudioTrackDecoder::Format::int16);
    }
    // Appends the next samples; false once the audio has ended or failed (see error()).
    bool read(std::vector<std::int16_t>& samples) { return decoder_.read(samples); }
    const std::optional<QString>& error() const { return decoder_.error(); }

private:
    AudioTrackDecoder decoder_;
};

} // namespace orvo
