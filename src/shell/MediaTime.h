#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace orvo {

// A rational media time: value / timescale seconds, or indefinite (unknown).
struct MediaTime {
    std::int64_t value = 0;
    std::int32_t timescale = 1;
    bool indefinite = false;

    static MediaTime fromSeconds(double seconds, std::int32_t timescale = 600) {
        return {std::int64_t(std::llround(seconds * timescale)), timescale, false};
    }
    static MediaTime makeIndefinite() { return {0, 0, true}; }

    // Not a number when indefinite or without a timescale.
    double seconds() const {
        if (indefinite || timescale == 0) {
            return std::numeric_limits<double>::quiet_NaN();
        }
        return double(value) / double(timescale);
    }
};

} // namespace orvo
