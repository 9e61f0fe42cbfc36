#pragma once

#include <optional>
#include <span>
#include <vector>

#include "platform/Port.h"

namespace orvo {

// What the canceller made of a near side.
struct EchoCancelled {
    std::vector<float> near;   // as long as the near side given
    std::vector<int> delaysMs; // the far side's delay as measured, once per stretch
};

// Removes from the near side of a call (the microphone) the echo of the far side (what the
// loudspeakers played), given both whole, mono, at one rate and on one clock. Any thread;
// one call at a time per canceller.
class EchoCanceller : public Port {
public:
    // Absent when the rate is not one the canceller takes, or when nothing of the far side
    // reaches the near side (no delay stands out): the near side then needs no change.
    virtual std::optional<EchoCancelled> cancel(std::span<const float> near,
                                                std::span<const float> far, int sampleRate) = 0;
};

} // namespace orvo
