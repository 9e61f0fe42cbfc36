#pragma once

#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/Port.h"

namespace orvo {

// One call's near side (the microphone) losing the echo of its far side (what the
// loudspeakers played), fed as both are read: mono, at one rate, on one clock. One thread.
class EchoCancellation {
public:
    virtual ~EchoCancellation() = default;
    // The next samples of both sides, as many of each. Gives the near side's samples that are
    // done, in order: they lag what was pushed by up to a stretch and the longest delay.
    virtual std::vector<float> push(std::span<const float> near, std::span<const float> far) = 0;
    // The rest of the near side, once both sides have ended.
    virtual std::vector<float> finish() = 0;
    // The far side's delay in milliseconds, each time it was measured anew; empty while no echo
    // was heard (headphones): the near side then comes out as it went in.
    virtual const std::vector<int>& delaysMs() const = 0;
};

// How the sides reach a cancellation: as the capture has them, or decoded from a recording,
// where the echo carries a coding noise of its own that no canceller predicts.
enum class EchoSides { captured, decoded };

// What a whole near side became.
struct EchoCancelled {
    std::vector<float> near; // as long as the near side given
    std::vector<int> delaysMs;
};

// Makes echo cancellations. Any thread.
class EchoCanceller : public Port {
public:
    // nullptr for a rate the canceller does not take.
    virtual std::unique_ptr<EchoCancellation> start(int sampleRate, EchoSides sides) = 0;

    // A whole near side at once; absent for a rate it does not take, or when nothing of the
    // far side reached the near side (no delay stands out).
    std::optional<EchoCancelled> cancel(std::span<const float> near, std::span<const float> far,
                                        int sampleRate, EchoSides sides);
};

} // namespace orvo
