#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include <QString>

#include "platform/EchoCanceller.h"
#include "platform/linux/speech/SpeechAudioDecoder.h"

namespace orvo {

// The near side of a call as SpeechAudioDecoder reads it, without the far side's echo: both
// tracks are read side by side, a second at a time, through an echo cancellation. One thread
// at a time.
class EchoFreeSpeechAudio {
public:
    // nullopt when the near track is open, else why not. Without a far track or a cancellation
    // the near side is read as it is.
    std::optional<QString> open(const QString& path, std::optional<int> nearStream,
                                std::optional<int> farStream,
                                std::shared_ptr<EchoCancellation> cancellation);
    // Appends the next samples, which lag what was read by the cancellation's stretch; false
    // once the near side has ended or failed (see error()).
    bool read(std::vector<std::int16_t>& samples);
    const std::optional<QString>& error() const { return near_.error(); }

private:
    void fill(SpeechAudioDecoder& decoder, std::vector<std::int16_t>& pending, bool& more);

    SpeechAudioDecoder near_;
    SpeechAudioDecoder far_;
    std::shared_ptr<EchoCancellation> cancellation_;
    std::vector<std::int16_t> nearPending_;
    std::vector<std::int16_t> farPending_;
    bool nearMore_ = true;
    bool farMore_ = true;
};

} // namespace orvo
