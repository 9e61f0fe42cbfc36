#pragma once

#include "platform/EchoCanceller.h"

namespace orvo {

// The echo canceller of WebRTC's audio processing (Debian 12: 0.3), given the far side's delay
// as measured: each 30 s stretch measures it anew, and a delay that moved starts the
// canceller afresh on it. Rates: 8, 16, 32 and 48 kHz.
class WebRtcEchoCanceller final : public EchoCanceller {
public:
    std::unique_ptr<EchoCancellation> start(int sampleRate, EchoSides sides) override;
};

} // namespace orvo
