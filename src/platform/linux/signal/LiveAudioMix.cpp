#include "platform/linux/signal/LiveAudioMix.h"

#include <algorithm>
#include <cmath>

namespace orvo {

LiveAudioMix::LiveAudioMix(int sources, std::int64_t windowFrames, Output output,
                           SidesOutput sidesOutput)
    : sides_(std::size_t(std::max(sources, 0))), window_(windowFrames), output_(std::move(output)),
      sidesOutput_(std::move(sidesOutput)), aligned_(sidesOutput_ ? sides_.size() : 0) {}

void LiveAudioMix::start(int source, std::int64_t atFrame) {
    std::lock_guard lock(mutex_);
    Side& side = sides_.at(std::size_t(source));
    side.pending.clear();
    side.end = atFrame;
}

void LiveAudioMix::add(int source, const float* interleaved, std::int64_t frames) {
    std::lock_guard lock(mutex_);
    Side& side = sides_.at(std::size_t(source));
    if (side.ended || frames <= 0) {
        return;
    }
    // Frames for a time already mixed came too late for it.
    const std::int64_t late = std::clamp<std::int64_t>(mixed_ - side.end, 0, frames);
    side.late += late;
    // About -80 dBFS: below it a frame counts as silence.
    const auto audible = [](float sample) { return std::abs(sample) > 1e-4f; };
    if (std::any_of(interleaved, interleaved + late * channels, audible)) {
        side.lateAudible += late;
    }
    side.pending.insert(side.pending.end(), interleaved + late * channels,
                        interleaved + frames * channels);
    side.end += frames;
    mixAvailable();
}

bool LiveAudioMix::end(int source) {
    std::lock_guard lock(mutex_);
    Side& side = sides_.at(std::size_t(source));
    if (side.ended) {
        return false;
    }
    side.ended = true;
    mixAvailable();
    return std::all_of(sides_.begin(), sides_.end(), [](const Side& s) { return s.ended; });
}

std::int64_t LiveAudioMix::mixedFrames() const {
    std::lock_guard lock(mutex_);
    return mixed_;
}

std::int64_t LiveAudioMix::lateFrames(int source) const {
    std::lock_guard lock(mutex_);
    return sides_.at(std::size_t(source)).late;
}

std::int64_t LiveAudioMix::lateAudibleFrames(int source) const {
    std::lock_guard lock(mutex_);
    return sides_.at(std::size_t(source)).lateAudible;
}

std::int64_t LiveAudioMix::mixableEnd() const {
    std::int64_t furthest = 0;
    std::int64_t slowest = INT64_MAX;
    for (const Side& side : sides_) {
        furthest = std::max(furthest, side.end);
        if (!side.ended) {
            slowest = std::min(slowest, side.end);
        }
    }
    // Every side ended: the longest decides where the mix ends.
    if (slowest == INT64_MAX) {
        return furthest;
    }
    return std::max(slowest, furthest - window_);
}

void LiveAudioMix::mixAvailable() {
    const std::int64_t until = mixableEnd();
    if (until <= mixed_) {
        return;
    }
    const std::int64_t frames = until - mixed_;
    sum_.assign(std::size_t(frames * channels), 0.0f);
    for (auto& aligned : aligned_) {
        aligned.assign(sum_.size(), 0.0f);
    }
    for (std::size_t s = 0; s < sides_.size(); ++s) {
        Side& side = sides_[s];
        const std::int64_t from = std::max(mixed_, side.begin());
        const std::int64_t to = std::min(until, side.end);
        if (to > from) {
            const auto* in = side.pending.data() + (from - side.begin()) * channels;
            const std::int64_t at = (from - mixed_) * channels;
            float* out = sum_.data() + at;
            for (std::int64_t i = 0; i < (to - from) * channels; ++i) {
                out[i] += in[i];
            }
            if (sidesOutput_) {
                std::copy_n(in, (to - from) * channels, aligned_[s].begin() + at);
            }
        }
        // What lies before the new mix position is done with.
        const std::int64_t used = std::clamp<std::int64_t>(
            until - side.begin(), 0, std::int64_t(side.pending.size()) / channels);
        side.pending.erase(side.pending.begin(), side.pending.begin() + used * channels);
    }
    mixed_ = until;
    output_(sum_.data(), frames);
    if (sidesOutput_) {
        sidesOutput_(aligned_, frames);
    }
}

} // namespace orvo
