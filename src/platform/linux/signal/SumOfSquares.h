#pragma once

#include <span>

namespace orvo {

// The signal's energy: its samples squared and summed, in double precision.
double sumOfSquares(std::span<const float> samples);

} // namespace orvo
