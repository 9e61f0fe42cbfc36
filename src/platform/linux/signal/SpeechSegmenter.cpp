#include "platform/linux/signal/SpeechSegmenter.h"

#include <algorithm>

namespace orvo {

namespace {

// Mean square of a frame that counts as speech, whatever the noise: about -50 dBFS, far below
// a voice and above a quiet line's hiss.
constexpr double quietestSpeech = 100.0 * 100.0;
// Speech stands this far (in power) above the noise floor.
constexpr double aboveNoise = 9.0;
// The floor follows a falling noise at once and a rising one slowly, by this factor per frame
// (about 1 dB a second), so that speech itself does not lift it much.
constexpr double floorRise = 1.002;

} // namespace

bool SpeechSegmenter::loud(const std::int16_t* frame) {
    double sum = 0;
    for (std::size_t i = 0; i < frameSamples; ++i) {
        sum += double(frame[i]) * frame[i];
    }
    const double power = sum / frameSamples;
    noiseFloor_ = noiseFloor_ < 0 ? power : std::min(power, std::max(noiseFloor_, 1.0) * floorRise);
    return power > std::max(quietestSpeech, noiseFloor_ * aboveNoise);
}

void SpeechSegmenter::push(const std::int16_t* samples, std::size_t count,
                           std::vector<Segment>& done) {
    pending_.insert(pending_.end(), samples, samples + count);
    while ((frames_ + 1) * frameSamples <= pendingStart_ + pending_.size()) {
        const std::size_t frame = frames_++;
        if (loud(pending_.data() + (frame * frameSamples - pendingStart_))) {
            if (!inSpeech_) {
                inSpeech_ = true;
                firstLoud_ = frame;
                loudFrames_ = 0;
            }
            lastLoud_ = frame;
            ++loudFrames_;
        }
        if (inSpeech_ &&
            (frame - lastLoud_ >= pauseFrames || frame + 1 - firstLoud_ >= longestFrames)) {
            close(done, false);
        }
        if (!inSpeech_) {
            // Keep only the margin before a stretch that may start with the next frame.
            const std::size_t keepFrom =
                (frames_ > marginFrames ? frames_ - marginFrames : 0) * frameSamples;
            if (keepFrom > pendingStart_) {
                pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(
                                                                        keepFrom - pendingStart_));
                pendingStart_ = keepFrom;
            }
        }
    }
}

void SpeechSegmenter::finish(std::vector<Segment>& done) {
    if (inSpeech_) {
        close(done, true);
    }
}

void SpeechSegmenter::close(std::vector<Segment>& done, bool atEnd) {
    inSpeech_ = false;
    const std::size_t begin =
        std::max({pendingStart_, handedOutEnd_,
                  (firstLoud_ > marginFrames ? firstLoud_ - marginFrames : 0) * frameSamples});
    // Up to the frames examined, so that where a stretch is cut does not depend on how the
    // audio arrived; at the end, the audio's last partial frame too.
    const std::size_t available = atEnd ? pendingStart_ + pending_.size() : frames_ * frameSamples;
    const std::size_t end = std::min(available, (lastLoud_ + 1 + marginFrames) * frameSamples);
    if (loudFrames_ >= minimumSpeechFrames && end > begin) {
        const auto first = pending_.begin() + static_cast<std::ptrdiff_t>(begin - pendingStart_);
        done.push_back({begin, std::vector<std::int16_t>(
                                   first, first + static_cast<std::ptrdiff_t>(end - begin))});
        handedOutEnd_ = end;
    }
}

} // namespace orvo
