#include "platform/linux/signal/EchoDelay.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

extern "C" {
#include <libavutil/tx.h>
}

#include "platform/linux/signal/SumOfSquares.h"

namespace orvo {
namespace {

// The coarse search runs near this rate: speech's echo correlates well there, at a fraction
// of the work.
constexpr int coarseRate = 4000;
// A peak must stand this far above the typical correlation to count as the echo. A room's echo
// stands 20 times and more above it; two voices talking at once, with no echo, up to 7 times.
constexpr double peakOverTypical = 10.0;
// A correlation this small against both sides' energies is the transform's rounding, not an
// echo: where the sides never overlap every lag gives it.
constexpr double roundingShare = 1e-9;
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

struct TransformDeleter {
    void operator()(AVTXContext* context) const { av_tx_uninit(&context); }
};
using Transform = std::unique_ptr<AVTXContext, TransformDeleter>;

struct Fft {
    Transform context;
    av_tx_fn run = nullptr;
};

std::optional<Fft> fftOf(std::size_t size, bool inverse) {
    AVTXContext* context = nullptr;
    av_tx_fn run = nullptr;
    const double scale = 1.0;
    if (av_tx_init(&context, &run, AV_TX_DOUBLE_FFT, inverse ? 1 : 0, int(size), &scale,
                   AV_TX_UNALIGNED) < 0) {
        return std::nullopt;
    }
    return Fft{Transform(context), run};
}

// The signal from `from` on, as many samples as given and zeros after, transformed.
void transformed(const Fft& fft, std::span<const float> signal, std::size_t from, std::size_t count,
                 std::vector<AVComplexDouble>& in, std::vector<AVComplexDouble>& out) {
    std::fill(in.begin(), in.end(), AVComplexDouble{0, 0});
    for (std::size_t i = 0; i < count && from + i < signal.size(); ++i) {
        in[i].re = signal[from + i];
    }
    fft.run(fft.context.get(), out.data(), in.data(), sizeof(AVComplexDouble));
}

// The correlation of near, lag samples later, with far, for every lag up to maxLag; over the
// samples both hold. A lag at a time costs the length times the lags: far is taken a block at a
// time instead, each block's spectrum against that of the near side it can reach, the products
// summed and brought back once. Empty when FFmpeg has no transform of that size.
std::vector<double> correlations(std::span<const float> far, std::span<const float> near,
                                 std::size_t maxLag) {
    std::size_t size = 4096;
    while (size < 4 * (maxLag + 1)) {
        size *= 2;
    }
    // A block's far samples and the near ones they reach fit without wrapping around.
    const std::size_t block = size - maxLag - 1;
    const auto forward = fftOf(size, false);
    const auto inverse = fftOf(size, true);
    if (!forward || !inverse) {
        return {};
    }
    std::vector<AVComplexDouble> in(size), farSpectrum(size), nearSpectrum(size);
    std::vector<AVComplexDouble> sum(size, AVComplexDouble{0, 0});
    for (std::size_t at = 0; at < far.size(); at += block) {
        transformed(*forward, far, at, block, in, farSpectrum);
        transformed(*forward, near, at, block + maxLag, in, nearSpectrum);
        for (std::size_t k = 0; k < size; ++k) {
            const AVComplexDouble f = farSpectrum[k];
            const AVComplexDouble n = nearSpectrum[k];
            sum[k].re += f.re * n.re + f.im * n.im;
            sum[k].im += f.re * n.im - f.im * n.re;
        }
    }
    std::vector<AVComplexDouble> back(size);
    inverse->run(inverse->context.get(), back.data(), sum.data(), sizeof(AVComplexDouble));
    std::vector<double> out(maxLag + 1);
    for (std::size_t lag = 0; lag <= maxLag; ++lag) {
        out[lag] = back[lag].re / double(size);
    }
    return out;
}

} // namespace

std::optional<std::size_t> echoDelay(std::span<const float> far, std::span<const float> near,
                                     int sampleRate, std::size_t maxLag) {
    if (far.empty() || near.empty() || sampleRate <= 0) {
        return std::nullopt;
    }
    if (sumOfSquares(far) / double(far.size()) < silentPower) {
        return std::nullopt;
    }
    // 1. The coarse lag, on averaged copies.
    const std::size_t factor = std::max<std::size_t>(1, std::size_t(sampleRate / coarseRate));
    const auto coarseFar = averaged(far, factor);
    const auto coarseNear = averaged(near, factor);
    const std::size_t coarseLags = maxLag / factor + 1;
    std::vector<double> strengths = correlations(coarseFar, coarseNear, coarseLags - 1);
    if (strengths.empty()) {
        return std::nullopt;
    }
    for (double& strength : strengths) {
        strength = std::abs(strength);
    }
    const auto best = std::max_element(strengths.begin(), strengths.end());
    std::vector<double> sorted = strengths;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double typical = sorted[sorted.size() / 2];
    const double rounding =
        roundingShare * std::sqrt(sumOfSquares(coarseFar) * sumOfSquares(coarseNear));
    if (*best <= rounding || *best < peakOverTypical * typical) {
        return std::nullopt;
    }
    // 2. Refined at the full rate, around it, on the sharper emphasised signals.
    const std::size_t centre = std::size_t(best - strengths.begin()) * factor;
    const std::size_t reach = std::size_t(sampleRate) * refineMs / 1000 + factor;
    const std::size_t from = centre >= reach ? centre - reach : 0;
    const std::size_t to = std::min(maxLag, centre + reach);
    const auto sharp = correlations(emphasised(far), emphasised(near), to);
    if (sharp.empty()) {
        return std::nullopt;
    }
    std::size_t lag = centre;
    double strongest = -1;
    for (std::size_t candidate = from; candidate <= to; ++candidate) {
        const double strength = std::abs(sharp[candidate]);
        if (strength > strongest) {
            strongest = strength;
            lag = candidate;
        }
    }
    return lag;
}

std::optional<std::size_t> echoDelayInWindows(std::span<const float> far,
                                              std::span<const float> near, int sampleRate,
                                              std::size_t maxLag, std::size_t window,
                                              std::size_t tolerance) {
    if (window == 0) {
        return std::nullopt;
    }
    std::vector<std::size_t> found;
    for (std::size_t at = 0; at + window <= far.size() && at < near.size(); at += window) {
        const auto lag = echoDelay(far.subspan(at, window),
                                   near.subspan(at, std::min(window + maxLag, near.size() - at)),
                                   sampleRate, maxLag);
        if (lag) {
            found.push_back(*lag);
        }
    }
    std::optional<std::size_t> agreed;
    std::size_t mostAgreeing = 1;
    for (const std::size_t lag : found) {
        const auto agreeing =
            std::size_t(std::count_if(found.begin(), found.end(), [&](auto other) {
                return (lag > other ? lag - other : other - lag) <= tolerance;
            }));
        if (agreeing > mostAgreeing) {
            agreed = lag;
            mostAgreeing = agreeing;
        }
    }
    return agreed;
}

} // namespace orvo
