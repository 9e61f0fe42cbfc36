#include "platform/linux/echo/WebRtcEchoCanceller.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include <webrtc/modules/audio_processing/include/audio_processing.h>

#include "platform/linux/signal/EchoDelay.h"

namespace orvo {
namespace {

constexpr int maxDelayMs = 500;
constexpr int stretchSeconds = 30;
// What the canceller is left to find itself: an echo begins before its strongest part, which
// is what the delay measures (a reflection may be stronger than the direct path).
constexpr int marginMs = 30;
// A delay that moved by more is measured anew.
constexpr int driftMs = 10;

bool isTakenRate(int rate) {
    return rate == 8000 || rate == 16000 || rate == 32000 || rate == 48000;
}

std::unique_ptr<webrtc::AudioProcessing> makeProcessing() {
    webrtc::Config config;
    // The longer filter (128 ms) holds more of a room's echo; Config owns what it is given.
    config.Set<webrtc::ExtendedFilter>(new webrtc::ExtendedFilter(true));
    config.Set<webrtc::DelayAgnostic>(new webrtc::DelayAgnostic(false));
    std::unique_ptr<webrtc::AudioProcessing> processing(webrtc::AudioProcessing::Create(config));
    if (processing == nullptr) {
        return nullptr;
    }
    auto* echo = processing->echo_cancellation();
    echo->enable_drift_compensation(false);
    echo->set_suppression_level(webrtc::EchoCancellation::kHighSuppression);
    echo->Enable(true);
    return processing;
}

// Cancels one stretch of near in place, the far side delayed by delay samples.
bool cancelStretch(webrtc::AudioProcessing& processing, std::span<const float> far,
                   std::span<float> near, std::size_t begin, std::size_t end, std::size_t delay,
                   int rate) {
    const std::size_t block = std::size_t(rate / 100);
    const std::size_t margin = std::size_t(rate) * marginMs / 1000;
    const std::size_t shift = delay > margin ? delay - margin : 0;
    const int leftMs = int((delay - shift) * 1000 / std::size_t(rate));
    const webrtc::StreamConfig mono(rate, 1);
    std::vector<float> farBlock(block);
    std::vector<float> nearBlock(block);
    for (std::size_t at = begin; at + block <= end; at += block) {
        for (std::size_t i = 0; i < block; ++i) {
            const std::size_t from = at + i;
            farBlock[i] = from >= shift && from - shift < far.size() ? far[from - shift] : 0.0f;
        }
        std::copy_n(near.begin() + std::ptrdiff_t(at), block, nearBlock.begin());
        const float* farIn = farBlock.data();
        float* farOut = farBlock.data();
        const float* nearIn = nearBlock.data();
        float* nearOut = near.data() + at;
        if (processing.ProcessReverseStream(&farIn, mono, mono, &farOut) != 0 ||
            processing.set_stream_delay_ms(leftMs) != 0 ||
            processing.ProcessStream(&nearIn, mono, mono, &nearOut) != 0) {
            return false;
        }
    }
    return true;
}

} // namespace

std::optional<EchoCancelled> WebRtcEchoCanceller::cancel(std::span<const float> near,
                                                         std::span<const float> far,
                                                         int sampleRate) {
    if (!isTakenRate(sampleRate)) {
        return std::nullopt;
    }
    const std::size_t stretch = std::size_t(stretchSeconds) * std::size_t(sampleRate);
    const std::size_t maxLag = std::size_t(sampleRate) * maxDelayMs / 1000;
    const std::size_t drift = std::size_t(sampleRate) * driftMs / 1000;
    EchoCancelled result{std::vector<float>(near.begin(), near.end()), {}};
    std::optional<std::size_t> delay;
    std::unique_ptr<webrtc::AudioProcessing> processing;
    for (std::size_t begin = 0; begin < near.size(); begin += stretch) {
        const std::size_t end = std::min(near.size(), begin + stretch);
        const auto measured =
            begin < far.size()
                ? echoDelay(far.subspan(begin, std::min(stretch, far.size() - begin)),
                            near.subspan(begin, std::min(stretch + maxLag, near.size() - begin)),
                            sampleRate, maxLag)
                : std::nullopt;
        const auto moved = [&] {
            return *measured > *delay ? *measured - *delay > drift : *delay - *measured > drift;
        };
        if (measured && (!delay || moved())) {
            delay = measured;
            processing = makeProcessing();
            result.delaysMs.push_back(int(*delay * 1000 / std::size_t(sampleRate)));
        }
        // Before the far side's first echo there is nothing to cancel; a canceller that fails
        // leaves the whole side as recorded.
        if (delay && (processing == nullptr || !cancelStretch(*processing, far, result.near, begin,
                                                              end, *delay, sampleRate))) {
            return std::nullopt;
        }
    }
    if (result.delaysMs.empty()) {
        return std::nullopt;
    }
    return result;
}

} // namespace orvo
