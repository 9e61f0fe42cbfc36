#include "platform/linux/echo/WebRtcEchoCanceller.h"

#include <algorithm>
#include <memory>
#include <random>

#include <speex/speex_echo.h>
#include <speex/speex_preprocess.h>
#include <webrtc/modules/audio_processing/include/audio_processing.h>

#include "platform/linux/signal/EchoDelay.h"
#include "platform/linux/signal/SumOfSquares.h"

namespace orvo {
namespace {

constexpr int maxDelayMs = 500;
constexpr int stretchSeconds = 30;
// What the canceller is left to find itself: an echo begins before its strongest part, which
// is what the delay measures (a reflection may be stronger than the direct path).
constexpr int marginMs = 30;
// A delay that moved by more is measured anew.
constexpr int driftMs = 10;
// Where the echo does not stand out over the call's first stretch, it is looked for two seconds
// at a time.
constexpr int windowMs = 2000;

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

// The linear canceller's filter: the room's echo from the margin before its strongest part.
constexpr int linearFilterMs = 200;
constexpr int linearLearningPasses = 3;
// Below an absolute floor (-60 dBFS) nobody speaks.
constexpr double speakingFloor = 1e-6;
// Where only the far side speaks, the linear output keeps about -20 dB of the microphone;
// above -14 dB the user speaks too. On sides as captured the bar sits as low as that allows:
// where both talk the echo can be louder than the user's soft sounds, and a block under the bar
// gets WebRTC's output, which cuts them. On decoded sides the echo's coding noise stays in the
// linear output, and -12 dB keeps more of it out.
constexpr double capturedSpeakingShare = 0.04;
constexpr double decodedSpeakingShare = 0.063;
// Blocks counted as the user's before and after those that showed the user: words begin and
// end softly. Fewer blocks in a row are the onset of an echo, which the filter follows late.
constexpr std::size_t leadBlocks = 5;
constexpr std::size_t hangoverBlocks = 20;
constexpr std::size_t shortestSpeech = 4;
// The longest an output may come after its input, and the probe that measures it.
constexpr int longestLatencyMs = 50;
constexpr int probeMs = 500;

struct SpeexEchoDeleter {
    void operator()(SpeexEchoState* state) const { speex_echo_state_destroy(state); }
};
using SpeexEcho = std::unique_ptr<SpeexEchoState, SpeexEchoDeleter>;

struct SpeexPreprocessDeleter {
    void operator()(SpeexPreprocessState* state) const { speex_preprocess_state_destroy(state); }
};
using SpeexPreprocess = std::unique_ptr<SpeexPreprocessState, SpeexPreprocessDeleter>;

std::int16_t toShort(float sample) {
    return std::int16_t(std::clamp(sample * 32768.0f, -32768.0f, 32767.0f));
}

// Power per sample.
double powerOf(std::span<const float> samples) {
    return sumOfSquares(samples) / double(samples.size());
}

std::size_t samplesOf(int rate, int milliseconds) {
    return std::size_t(rate) * std::size_t(milliseconds) / 1000;
}

// WebRTC's canceller beside speexdsp's linear one and its residual suppressor, fed a block
// (10 ms) of both sides at a time.
class Cancellers {
public:
    Cancellers(int rate, std::size_t block)
        : rate_(rate), block_(block), processing_(makeProcessing()),
          linear_(speex_echo_state_init(int(block), int(samplesOf(rate, linearFilterMs)))),
          residual_(speex_preprocess_state_init(int(block), rate)), nearShort_(block),
          farShort_(block), outShort_(block), farBlock_(block), discarded_(block) {
        if (linear_ && residual_) {
            speex_echo_ctl(linear_.get(), SPEEX_ECHO_SET_SAMPLING_RATE, &rate);
            speex_preprocess_ctl(residual_.get(), SPEEX_PREPROCESS_SET_ECHO_STATE, linear_.get());
        }
    }

    // Null when a library could not make its part.
    static std::unique_ptr<Cancellers> make(int rate, std::size_t block) {
        auto cancellers = std::make_unique<Cancellers>(rate, block);
        if (!cancellers->processing_ || !cancellers->linear_ || !cancellers->residual_) {
            return nullptr;
        }
        return cancellers;
    }

    // The block through the linear canceller, whose output goes to linear, and then through its
    // residual suppressor, whose output goes to kept; either may be null.
    void cancelLinearly(const float* near, const float* far, float* linear, float* kept) {
        for (std::size_t i = 0; i < block_; ++i) {
            nearShort_[i] = toShort(near[i]);
            farShort_[i] = toShort(far[i]);
        }
        speex_echo_cancellation(linear_.get(), nearShort_.data(), farShort_.data(),
                                outShort_.data());
        copyOut(linear);
        speex_preprocess_run(residual_.get(), outShort_.data());
        copyOut(kept);
    }

    // Silence through the linear canceller, as long as its filter: what it learnt stays, the end
    // of what it learnt on leaves its input.
    void forgetLinearInput() {
        const std::vector<float> silence(block_);
        for (std::size_t b = 0; b <= samplesOf(rate_, linearFilterMs) / block_; ++b) {
            cancelLinearly(silence.data(), silence.data(), nullptr, nullptr);
        }
    }

    // The block through WebRTC's canceller, told the far side's echo comes delayMs later still;
    // out may be null. False when WebRTC fails.
    bool suppress(const float* near, const float* far, int delayMs, float* out) {
        const webrtc::StreamConfig mono(rate_, 1);
        std::copy_n(far, block_, farBlock_.begin());
        const float* farIn = farBlock_.data();
        float* farOut = farBlock_.data();
        float* nearOut = out != nullptr ? out : discarded_.data();
        return processing_->ProcessReverseStream(&farIn, mono, mono, &farOut) == 0 &&
               processing_->set_stream_delay_ms(delayMs) == 0 &&
               processing_->ProcessStream(&near, mono, mono, &nearOut) == 0;
    }

private:
    void copyOut(float* out) const {
        for (std::size_t i = 0; out != nullptr && i < block_; ++i) {
            out[i] = float(outShort_[i]) / 32768.0f;
        }
    }

    const int rate_;
    const std::size_t block_;
    std::unique_ptr<webrtc::AudioProcessing> processing_;
    SpeexEcho linear_;
    SpeexPreprocess residual_;
    std::vector<std::int16_t> nearShort_, farShort_, outShort_;
    std::vector<float> farBlock_, discarded_;
};

// How many samples after its input each output comes. Neither library says: WebRTC buffers its
// blocks, the residual suppressor overlaps its frames. Outputs taken unaligned would jump back
// and forth in time where the stage changes from one to the other, in the user's words.
struct Latencies {
    std::size_t kept = 0;
    std::size_t suppressed = 0;
};

// Measured on noise through fresh cancellers, with a silent far side: each passes the near side
// as it is, only later. Zero where no lag stands out.
Latencies latenciesOf(int rate, std::size_t block) {
    auto cancellers = Cancellers::make(rate, block);
    if (!cancellers) {
        return {};
    }
    std::minstd_rand random(1);
    std::uniform_real_distribution<float> noise(-0.25f, 0.25f);
    const std::size_t length = samplesOf(rate, probeMs) / block * block;
    std::vector<float> probe(length);
    std::generate(probe.begin(), probe.end(), [&] { return noise(random); });
    const std::vector<float> silence(block);
    std::vector<float> kept(length), suppressed(length);
    for (std::size_t at = 0; at < length; at += block) {
        cancellers->cancelLinearly(probe.data() + at, silence.data(), nullptr, kept.data() + at);
        if (!cancellers->suppress(probe.data() + at, silence.data(), 0, suppressed.data() + at)) {
            return {};
        }
    }
    const std::size_t longest = samplesOf(rate, longestLatencyMs);
    return {echoDelay(probe, kept, rate, longest).value_or(0),
            echoDelay(probe, suppressed, rate, longest).value_or(0)};
}

// Cuts the near side into stretches, measures the far side's delay in each and cancels its
// echo. Two cancellers run side by side: WebRTC's, whose output is silent where only the far
// side speaks but also cuts the user's words where both speak, and speexdsp's linear one with
// its residual suppressor, which keeps the user's words with a little echo left. Where the
// linear output keeps much of the microphone the user speaks, and it is given; elsewhere
// WebRTC's. Both are taken back by their latencies, so the cancellers run that far ahead of
// the stretch. Keeps one stretch of the near side and the longest delay of the far side before
// it.
class WebRtcEchoCancellation final : public EchoCancellation {
public:
    WebRtcEchoCancellation(int rate, EchoSides sides)
        : rate_(rate), sides_(sides), block_(std::size_t(rate / 100)),
          stretch_(std::size_t(stretchSeconds) * std::size_t(rate)),
          maxLag_(samplesOf(rate, maxDelayMs)), drift_(samplesOf(rate, driftMs)),
          nearBlock_(block_), farBlock_(block_) {}

    std::vector<float> push(std::span<const float> near, std::span<const float> far) override {
        near_.insert(near_.end(), near.begin(), near.end());
        far_.insert(far_.end(), far.begin(), far.end());
        std::vector<float> done;
        // A stretch is measured with the echo of its end, which comes up to maxLag later.
        while (near_.size() >= stretch_ + maxLag_) {
            cancelStretch(stretch_, done);
        }
        return done;
    }

    std::vector<float> finish() override {
        std::vector<float> done;
        while (!near_.empty()) {
            cancelStretch(std::min(stretch_, near_.size()), done);
        }
        return done;
    }

    const std::vector<int>& delaysMs() const override { return delaysMs_; }

private:
    // The near side at its sample (counted from the start), 0 past what was pushed.
    float nearAt(std::size_t sample) const {
        const std::size_t index = sample - nearStart_;
        return index < near_.size() ? near_[index] : 0.0f;
    }

    // The far side at the near side's sample (counted from the start), 0 where there is none.
    float farAt(std::size_t sample, std::size_t shift) const {
        if (sample < shift || sample - shift < farStart_) {
            return 0.0f;
        }
        const std::size_t index = sample - shift - farStart_;
        return index < far_.size() ? far_[index] : 0.0f;
    }

    void measure(std::size_t length) {
        const std::size_t farOffset = nearStart_ - farStart_;
        if (farOffset >= far_.size()) {
            return;
        }
        const auto far = std::span<const float>(far_).subspan(
            farOffset, std::min(length, far_.size() - farOffset));
        const auto near =
            std::span<const float>(near_).first(std::min(length + maxLag_, near_.size()));
        auto measured = echoDelay(far, near, rate_, maxLag_);
        // Two windows may agree on a lag by chance now and then: only the first stretch, which a
        // short call is all of, is asked; a long call's next stretches measure it whole again.
        if (!measured && nearStart_ == 0) {
            measured =
                echoDelayInWindows(far, near, rate_, maxLag_, samplesOf(rate_, windowMs), drift_);
        }
        if (!measured) {
            return;
        }
        const bool moved = delay_ && (*measured > *delay_ ? *measured - *delay_ > drift_
                                                          : *delay_ - *measured > drift_);
        if (!delay_ || moved) {
            delay_ = measured;
            startCancellers();
            delaysMs_.push_back(int(*delay_ * 1000 / std::size_t(rate_)));
        }
    }

    // New cancellers for the delay, from the stretch's start on.
    void startCancellers() {
        if (!latencies_) {
            latencies_ = latenciesOf(rate_, block_);
        }
        cancellers_ = Cancellers::make(rate_, block_);
        learned_ = false;
        processed_ = nearStart_;
        outputsStart_ = nearStart_;
        linearOut_.clear();
        keptOut_.clear();
        suppressedOut_.clear();
    }

    void cancelStretch(std::size_t length, std::vector<float>& done) {
        measure(length);
        if (delay_ && cancellers_ && !failed_) {
            failed_ = !cancelBlocks(length);
        }
        done.insert(done.end(), near_.begin(), near_.begin() + std::ptrdiff_t(length));
        near_.erase(near_.begin(), near_.begin() + std::ptrdiff_t(length));
        nearStart_ += length;
        // The far side the next stretch may reach back to.
        const std::size_t keepFrom = nearStart_ > maxLag_ ? nearStart_ - maxLag_ : 0;
        if (keepFrom > farStart_) {
            const std::size_t drop = std::min(keepFrom - farStart_, far_.size());
            far_.erase(far_.begin(), far_.begin() + std::ptrdiff_t(drop));
            farStart_ += drop;
        }
    }

    std::size_t shift() const {
        const std::size_t margin = samplesOf(rate_, marginMs);
        return *delay_ > margin ? *delay_ - margin : 0;
    }

    // Cancels the first length samples of near_ in place; false when the canceller fails (the
    // rest then stays as recorded).
    bool cancelBlocks(std::size_t length) {
        const std::size_t until =
            nearStart_ + length + std::max(latencies_->kept, latencies_->suppressed);
        if (!learned_ && !learn(until)) {
            return false;
        }
        if (!runUntil(until)) {
            return false;
        }
        const std::size_t offset = nearStart_ - outputsStart_;
        const std::vector<bool> speaking = userSpeaking(offset, (length + block_ - 1) / block_);
        for (std::size_t i = 0; i < length; ++i) {
            near_[i] = speaking[i / block_] ? userSpeakingOutput(offset + i)
                                            : suppressedOut_[offset + i + latencies_->suppressed];
        }
        dropOutputsBefore(nearStart_ + length);
        return true;
    }

    // Where the user speaks: on sides as captured, the linear canceller's output, whose little
    // echo left costs the user's words nothing; its residual suppressor cuts into them where
    // both talk. On decoded sides the linear output keeps the echo's coding noise, which the
    // suppressor takes out.
    float userSpeakingOutput(std::size_t index) const {
        return sides_ == EchoSides::captured ? linearOut_[index]
                                             : keptOut_[index + latencies_->kept];
    }

    // The block of both sides from the near side's sample.
    void takeBlock(std::size_t at) {
        const std::size_t farShift = shift();
        for (std::size_t i = 0; i < block_; ++i) {
            nearBlock_[i] = nearAt(at + i);
            farBlock_[i] = farAt(at + i, farShift);
        }
    }

    int delayLeftMs() const { return int((*delay_ - shift()) * 1000 / std::size_t(rate_)); }

    // New cancellers learn the room on what they are about to cancel, before their output is
    // used: the linear one else tells the user's first words apart from the echo by a filter that
    // knows none of it, and WebRTC's, new, lets the first second of the far side through (30 dB
    // down, where it takes 50 and more later), which the recogniser hears as the user's words.
    // The linear one learns slowly: one pass leaves 30 dB of the echo where three leave 40.
    bool learn(std::size_t until) {
        for (int pass = 0; pass < linearLearningPasses; ++pass) {
            for (std::size_t at = processed_; at < until; at += block_) {
                takeBlock(at);
                cancellers_->cancelLinearly(nearBlock_.data(), farBlock_.data(), nullptr, nullptr);
            }
            cancellers_->forgetLinearInput();
        }
        for (std::size_t at = processed_; at < until; at += block_) {
            takeBlock(at);
            if (!cancellers_->suppress(nearBlock_.data(), farBlock_.data(), delayLeftMs(),
                                       nullptr)) {
                return false;
            }
        }
        learned_ = true;
        return true;
    }

    // Both cancellers on the sides up to the near side's sample until, their outputs kept.
    bool runUntil(std::size_t until) {
        for (; processed_ < until; processed_ += block_) {
            takeBlock(processed_);
            const std::size_t at = linearOut_.size();
            linearOut_.resize(at + block_);
            keptOut_.resize(at + block_);
            suppressedOut_.resize(at + block_);
            cancellers_->cancelLinearly(nearBlock_.data(), farBlock_.data(), &linearOut_[at],
                                        &keptOut_[at]);
            if (!cancellers_->suppress(nearBlock_.data(), farBlock_.data(), delayLeftMs(),
                                       &suppressedOut_[at])) {
                return false;
            }
        }
        return true;
    }

    void dropOutputsBefore(std::size_t sample) {
        const auto drop = std::ptrdiff_t(sample - outputsStart_);
        linearOut_.erase(linearOut_.begin(), linearOut_.begin() + drop);
        keptOut_.erase(keptOut_.begin(), keptOut_.begin() + drop);
        suppressedOut_.erase(suppressedOut_.begin(), suppressedOut_.begin() + drop);
        outputsStart_ = sample;
    }

    // Where the user speaks, over the blocks from the outputs' offset: the linear output keeps
    // much more of the microphone than an echo alone leaves of it. Widened on both sides, since
    // words begin and end softly.
    std::vector<bool> userSpeaking(std::size_t offset, std::size_t blocks) const {
        std::vector<bool> heard(blocks);
        const std::span<const float> microphone(near_);
        const double speakingShare =
            sides_ == EchoSides::captured ? capturedSpeakingShare : decodedSpeakingShare;
        for (std::size_t b = 0; b < blocks; ++b) {
            // The call's last block may be short.
            const std::size_t from = b * block_;
            const std::size_t count = std::min(block_, microphone.size() - from);
            const double kept =
                powerOf(std::span<const float>(linearOut_).subspan(offset + from, count));
            heard[b] = kept > speakingFloor &&
                       kept > speakingShare * powerOf(microphone.subspan(from, count));
        }
        for (std::size_t b = 0; b < blocks;) {
            std::size_t end = b;
            while (end < blocks && heard[end]) {
                ++end;
            }
            if (end - b < shortestSpeech) {
                std::fill(heard.begin() + std::ptrdiff_t(b), heard.begin() + std::ptrdiff_t(end),
                          false);
            }
            b = end + 1;
        }
        std::vector<bool> speaking(blocks);
        for (std::size_t b = 0; b < blocks; ++b) {
            if (!heard[b]) {
                continue;
            }
            const std::size_t from = b > leadBlocks ? b - leadBlocks : 0;
            const std::size_t to = std::min(blocks, b + hangoverBlocks + 1);
            std::fill(speaking.begin() + std::ptrdiff_t(from),
                      speaking.begin() + std::ptrdiff_t(to), true);
        }
        return speaking;
    }

    const int rate_;
    const EchoSides sides_;
    const std::size_t block_;
    const std::size_t stretch_;
    const std::size_t maxLag_;
    const std::size_t drift_;
    std::vector<float> near_; // not yet done, from nearStart_ on
    std::vector<float> far_;  // from farStart_ on
    std::size_t nearStart_ = 0;
    std::size_t farStart_ = 0;
    std::optional<std::size_t> delay_;
    std::optional<Latencies> latencies_;
    std::unique_ptr<Cancellers> cancellers_;
    bool learned_ = false;
    // How far the cancellers have read the sides, and their outputs from outputsStart_ on.
    std::size_t processed_ = 0;
    std::size_t outputsStart_ = 0;
    std::vector<float> linearOut_, keptOut_, suppressedOut_;
    std::vector<float> nearBlock_, farBlock_;
    std::vector<int> delaysMs_;
    bool failed_ = false;
};

} // namespace

std::unique_ptr<EchoCancellation> WebRtcEchoCanceller::start(int sampleRate, EchoSides sides) {
    if (!isTakenRate(sampleRate)) {
        return nullptr;
    }
    return std::make_unique<WebRtcEchoCancellation>(sampleRate, sides);
}

} // namespace orvo
