#pragma once

#include <cstddef>
#include <optional>
#include <span>

namespace orvo {

// How long after the far side played a sound the near side (a microphone in the same room)
// picked it up: the lag, in samples, at which the near side follows the far side most closely,
// at most maxLag. Searched at about 4 kHz, then refined at the full rate. Absent when the
// far side is silent, or when no lag stands out from the others (no echo reached the near side).
std::optional<std::size_t> echoDelay(std::span<const float> far, std::span<const float> near,
                                     int sampleRate, std::size_t maxLag);

// The delay on which echoDelay agrees in most windows of the far side (each `window` samples
// long), within `tolerance`: for a stretch over the whole of which the echo does not stand out
// (its delay wandering, a voice over it) but does in parts. Absent unless two windows agree at
// least: one alone may be two voices that happen to match.
std::optional<std::size_t> echoDelayInWindows(std::span<const float> far,
                                              std::span<const float> near, int sampleRate,
                                              std::size_t maxLag, std::size_t window,
                                              std::size_t tolerance);

} // namespace orvo
