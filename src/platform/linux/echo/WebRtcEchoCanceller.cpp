#include "platform/linux/echo/WebRtcEchoCanceller.h"

#include <algorithm>
#include <memory>

#include <speex/speex_echo.h>
#include <speex/speex_preprocess.h>
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

// The linear canceller's filter: the room's echo from the margin before its strongest part.
constexpr int linearFilterMs = 200;
constexpr int linearLearningPasses = 3;
// Below an absolute floor (-60 dBFS) nobody speaks.
constexpr double speakingFloor = 1e-6;
// Where only the far side speaks, the linear output keeps about -20 dB of the microphone;
// above -12 dB the user speaks too.
constexpr double linearSpeakingShare = 0.063;
// Blocks counted as the user's before and after those that showed the user: words begin and
// end softly. Fewer blocks in a row are the onset of an echo, which the filter follows late.
constexpr std::size_t leadBlocks = 5;
constexpr std::size_t hangoverBlocks = 20;
constexpr std::size_t shortestSpeech = 4;

struct SpeexEchoDeleter {
    void operator()(SpeexEchoState* state) const { speex_echo_state_destroy(state); }
};
using SpeexEcho = std::unique_ptr<SpeexEchoState, SpeexEchoDeleter>;

SpeexEcho makeLinear(int rate, std::size_t block) {
    SpeexEcho state(speex_echo_state_init(int(block), rate * linearFilterMs / 1000));
    if (state) {
        speex_echo_ctl(state.get(), SPEEX_ECHO_SET_SAMPLING_RATE, &rate);
    }
    return state;
}

struct SpeexPreprocessDeleter {
    void operator()(SpeexPreprocessState* state) const { speex_preprocess_state_destroy(state); }
};
using SpeexPreprocess = std::unique_ptr<SpeexPreprocessState, SpeexPreprocessDeleter>;

// speexdsp's suppressor of what echo the linear canceller leaves.
SpeexPreprocess makeResidualSuppressor(int rate, std::size_t block, SpeexEchoState* linear) {
    SpeexPreprocess state(speex_preprocess_state_init(int(block), rate));
    if (state) {
        speex_preprocess_ctl(state.get(), SPEEX_PREPROCESS_SET_ECHO_STATE, linear);
    }
    return state;
}

std::int16_t toShort(float sample) {
    return std::int16_t(std::clamp(sample * 32768.0f, -32768.0f, 32767.0f));
}

double energyOf(const float* samples, std::size_t count) {
    double sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sum += double(samples[i]) * double(samples[i]);
    }
    return sum / double(count);
}

std::size_t samplesOf(int rate, int milliseconds) {
    return std::size_t(rate) * std::size_t(milliseconds) / 1000;
}

// Cuts the near side into stretches, measures the far side's delay in each and cancels its
// echo. Two cancellers run side by side: WebRTC's, whose output is silent where only the far
// side speaks but also cuts the user's words where both speak, and speexdsp's linear one with
// its residual suppressor, which keeps the user's words with a little echo left. Where the
// linear output keeps much of the microphone the user speaks, and it is given; elsewhere
// WebRTC's. Keeps one stretch of the near side and the longest delay of the far side before it.
class WebRtcEchoCancellation final : public EchoCancellation {
public:
    explicit WebRtcEchoCancellation(int rate)
        : rate_(rate), block_(std::size_t(rate / 100)),
          stretch_(std::size_t(stretchSeconds) * std::size_t(rate)),
          maxLag_(samplesOf(rate, maxDelayMs)), drift_(samplesOf(rate, driftMs)) {}

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
        const auto measured =
            echoDelay(std::span<const float>(far_).subspan(
                          farOffset, std::min(length, far_.size() - farOffset)),
                      std::span<const float>(near_).first(std::min(length + maxLag_, near_.size())),
                      rate_, maxLag_);
        if (!measured) {
            return;
        }
        const bool moved = delay_ && (*measured > *delay_ ? *measured - *delay_ > drift_
                                                          : *delay_ - *measured > drift_);
        if (!delay_ || moved) {
            delay_ = measured;
            processing_ = makeProcessing();
            linear_ = makeLinear(rate_, block_);
            residual_ = linear_ ? makeResidualSuppressor(rate_, block_, linear_.get()) : nullptr;
            learned_ = false;
            delaysMs_.push_back(int(*delay_ * 1000 / std::size_t(rate_)));
        }
    }

    void cancelStretch(std::size_t length, std::vector<float>& done) {
        measure(length);
        if (delay_ && processing_ && linear_ && residual_ && !failed_) {
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

    // Cancels the first length samples of near_ in place; false when the canceller fails (the
    // rest then stays as recorded).
    bool cancelBlocks(std::size_t length) {
        const std::size_t margin = samplesOf(rate_, marginMs);
        const std::size_t shift = *delay_ > margin ? *delay_ - margin : 0;
        const std::size_t blocks = length / block_;
        if (!learned_) {
            // A new linear canceller learns the room on the stretch first: else the user's
            // first words would be told apart from the echo by a filter that knows none of it.
            // It learns slowly: one pass leaves 30 dB of the echo where three leave 40.
            for (int pass = 0; pass < linearLearningPasses; ++pass) {
                cancelLinearly(blocks, shift);
                forgetLinearInput();
            }
            // WebRTC's canceller too: new, it lets the first second of the far side through
            // (30 dB down, where it takes 50 and more later), which the recogniser hears as the
            // user's words.
            std::vector<float> discarded(blocks * block_);
            if (!suppress(blocks, shift, discarded)) {
                return false;
            }
            learned_ = true;
        }
        std::vector<float> kept;
        const std::vector<float> linear = cancelLinearly(blocks, shift, &kept);
        std::vector<float> suppressed(blocks * block_);
        if (!suppress(blocks, shift, suppressed)) {
            return false;
        }
        const std::vector<bool> speaking = userSpeaking(linear, blocks);
        for (std::size_t b = 0; b < blocks; ++b) {
            const auto& chosen = speaking[b] ? kept : suppressed;
            std::copy_n(chosen.begin() + std::ptrdiff_t(b * block_), block_,
                        near_.begin() + std::ptrdiff_t(b * block_));
        }
        return true;
    }

    // speexdsp's linear output for the stretch's first blocks; with kept, also that output
    // after its residual suppressor.
    std::vector<float> cancelLinearly(std::size_t blocks, std::size_t shift,
                                      std::vector<float>* kept = nullptr) {
        std::vector<float> out(blocks * block_);
        if (kept != nullptr) {
            kept->resize(blocks * block_);
        }
        std::vector<std::int16_t> farShort(block_);
        std::vector<std::int16_t> nearShort(block_);
        std::vector<std::int16_t> outShort(block_);
        for (std::size_t b = 0; b < blocks; ++b) {
            for (std::size_t i = 0; i < block_; ++i) {
                farShort[i] = toShort(farAt(nearStart_ + b * block_ + i, shift));
                nearShort[i] = toShort(near_[b * block_ + i]);
            }
            speex_echo_cancellation(linear_.get(), nearShort.data(), farShort.data(),
                                    outShort.data());
            for (std::size_t i = 0; i < block_; ++i) {
                out[b * block_ + i] = float(outShort[i]) / 32768.0f;
            }
            speex_preprocess_run(residual_.get(), outShort.data());
            for (std::size_t i = 0; kept != nullptr && i < block_; ++i) {
                (*kept)[b * block_ + i] = float(outShort[i]) / 32768.0f;
            }
        }
        return out;
    }

    // Silence through the linear canceller, as long as its filter: what it learnt stays, the end
    // of the stretch it learnt on leaves its input.
    void forgetLinearInput() {
        const std::vector<std::int16_t> silence(block_);
        std::vector<std::int16_t> out(block_);
        for (std::size_t b = 0; b <= samplesOf(rate_, linearFilterMs) / block_; ++b) {
            speex_echo_cancellation(linear_.get(), silence.data(), silence.data(), out.data());
            speex_preprocess_run(residual_.get(), out.data());
        }
    }

    // WebRTC's output for the stretch's first blocks.
    bool suppress(std::size_t blocks, std::size_t shift, std::vector<float>& out) {
        const int leftMs = int((*delay_ - shift) * 1000 / std::size_t(rate_));
        const webrtc::StreamConfig mono(rate_, 1);
        std::vector<float> farBlock(block_);
        for (std::size_t b = 0; b < blocks; ++b) {
            for (std::size_t i = 0; i < block_; ++i) {
                farBlock[i] = farAt(nearStart_ + b * block_ + i, shift);
            }
            const float* farIn = farBlock.data();
            float* farOut = farBlock.data();
            const float* nearIn = near_.data() + b * block_;
            float* nearOut = out.data() + b * block_;
            if (processing_->ProcessReverseStream(&farIn, mono, mono, &farOut) != 0 ||
                processing_->set_stream_delay_ms(leftMs) != 0 ||
                processing_->ProcessStream(&nearIn, mono, mono, &nearOut) != 0) {
                return false;
            }
        }
        return true;
    }

    // Where the user speaks: the linear output keeps much more of the microphone than an echo
    // alone leaves of it. Widened on both sides, since words begin and end softly.
    std::vector<bool> userSpeaking(const std::vector<float>& linear, std::size_t blocks) const {
        std::vector<bool> heard(blocks);
        for (std::size_t b = 0; b < blocks; ++b) {
            const double microphone = energyOf(near_.data() + b * block_, block_);
            const double kept = energyOf(linear.data() + b * block_, block_);
            heard[b] = kept > speakingFloor && kept > linearSpeakingShare * microphone;
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
    const std::size_t block_;
    const std::size_t stretch_;
    const std::size_t maxLag_;
    const std::size_t drift_;
    std::vector<float> near_; // not yet done, from nearStart_ on
    std::vector<float> far_;  // from farStart_ on
    std::size_t nearStart_ = 0;
    std::size_t farStart_ = 0;
    std::optional<std::size_t> delay_;
    std::unique_ptr<webrtc::AudioProcessing> processing_;
    SpeexEcho linear_;
    SpeexPreprocess residual_;
    bool learned_ = false;
    std::vector<int> delaysMs_;
    bool failed_ = false;
};

} // namespace

std::unique_ptr<EchoCancellation> WebRtcEchoCanceller::start(int sampleRate) {
    if (!isTakenRate(sampleRate)) {
        return nullptr;
    }
    return std::make_unique<WebRtcEchoCancellation>(sampleRate);
}

} // namespace orvo
