#include "platform/linux/signal/EchoDelay.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace orvo {
namespace {

// The coarse search runs near this rate: speech's echo correlates well there, at a fraction
// of the work.
constexpr int coarseRate = 4000;
// A peak must stand this far above the typical correlation to count as the echo.
constexpr double peakOverTypical = 4.0;
// Below this mean power the far side plays nothing (about -70 dBFS).
constexpr double silentPower = 1e-7;
// The refinement looks this far either side of the coarse lag: a voice's pitch period, by which
// the coarse search can be off when a room's reflections add up there.
constexpr int refineMs = 12;

// Lifts the high frequencies, which tell lags apart: low ones correlate alike over many.
std::vector<float> emphasised(std::span<const float> signal) {
    std::vector<float> out(signal.size());
    for (std::size_t i = 1; i < signal.size(); ++i) {
        out[i] = signal[i] - 0.95f * signal[i - 1];
    }
    return out;
}

std::vector<float> averaged(std::span<const float> signal, std::size_t factor) {
    std::vector<float> out(signal.size() / factor);
    for (std::size_t i = 0; i < out.size(); ++i) {
        float sum = 0;
        for (std::size_t k = 0; k < factor; ++k) {
            sum += signal[i * factor + k];
        }
        out[i] = sum / float(factor);
    }
    return out;
}

// The correlation of near, lag samples later, with far; over the samples both hold.
double correlation(std::span<const float> far, std::span<const float> near, std::size_t lag) {
    if (lag >= near.size()) {
        return 0;
    }
    const std::size_t count = std::min(far.size(), near.size() - lag);
    double sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sum += double(far[i]) * double(near[i + lag]);
    }
    return sum;
}

} // namespace

std::optional<std::size_t> echoDelay(std::span<const float> far, std::span<const float> near,
                                     int sampleRate, std::size_t maxLag) {
    if (far.empty() || near.empty() || sampleRate <= 0) {
        return std::nullopt;
    }
    double power = 0;
    for (const float sample : far) {
        power += double(sample) * double(sample);
    }
    if (power / double(far.size()) < silentPower) {
        return std::nullopt;
    }
    // 1. The coarse lag, on averaged copies.
    const std::size_t factor = std::max<std::size_t>(1, std::size_t(sampleRate / coarseRate));
    const auto coarseFar = averaged(far, factor);
    const auto coarseNear = averaged(near, factor);
    const std::size_t coarseLags = maxLag / factor + 1;
    std::vector<double> strengths(coarseLags);
    for (std::size_t lag = 0; lag < coarseLags; ++lag) {
        strengths[lag] = std::abs(correlation(coarseFar, coarseNear, lag));
    }
    const auto best = std::max_element(strengths.begin(), strengths.end());
    std::vector<double> sorted = strengths;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double typical = sorted[sorted.size() / 2];
    if (*best <= 0 || *best < peakOverTypical * typical) {
        return std::nullopt;
    }
    // 2. Refined at the full rate, around it, on the sharper emphasised signals.
    const std::size_t centre = std::size_t(best - strengths.begin()) * factor;
    const std::size_t reach = std::size_t(sampleRate) * refineMs / 1000 + factor;
    const std::size_t from = centre >= reach ? centre - reach : 0;
    const std::size_t to = std::min(maxLag, centre + reach);
    const auto sharpFar = emphasised(far);
    const auto sharpNear = emphasised(near);
    std::size_t lag = centre;
    double strongest = -1;
    for (std::size_t candidate = from; candidate <= to; ++candidate) {
        const double strength = std::abs(correlation(sharpFar, sharpNear, candidate));
        if (strength > strongest) {
            strongest = strength;
            lag = candidate;
        }
    }
    return lag;
}

} // namespace orvo
