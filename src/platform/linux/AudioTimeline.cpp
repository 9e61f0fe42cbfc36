#include "platform/linux/AudioTimeline.h"

#include <algorithm>

namespace orvo {

AudioTimeline::AudioTimeline(int sampleRate, TimePoint start)
    : sampleRate_(sampleRate), start_(start) {}

std::int64_t AudioTimeline::framesAt(TimePoint point) const {
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(point - start_);
    // Rounded to the nearest frame, also before the start.
    const std::int64_t scaled = elapsed.count() * sampleRate_;
    return scaled >= 0 ? (scaled + 500000) / 1000000 : -((-scaled + 500000) / 1000000);
}

AudioTimeline::Placement AudioTimeline::place(std::int64_t frames, TimePoint captureTime) {
    Placement placement;
    const std::int64_t position = framesAt(captureTime);
    if (written_ == 0 && position < 0) {
        placement.skipFrames = std::min(frames, -position);
    } else if (written_ == 0 && position > 0) {
        placement.silenceFrames = position;
    } else if (position - written_ > gapTolerance.count() * sampleRate_ / 1000) {
        placement.silenceFrames = position - written_;
    }
    if (endFrame_) {
        placement.silenceFrames =
            std::clamp<std::int64_t>(*endFrame_ - written_, 0, placement.silenceFrames);
    }
    written_ += placement.silenceFrames;
    placement.keepFrames = frames - placement.skipFrames;
    if (endFrame_) {
        placement.keepFrames =
            std::clamp<std::int64_t>(*endFrame_ - written_, 0, placement.keepFrames);
    }
    written_ += placement.keepFrames;
    return placement;
}

void AudioTimeline::setEnd(TimePoint end) {
    endFrame_ = std::max<std::int64_t>(0, framesAt(end));
}

bool AudioTimeline::reachedEnd() const {
    return endFrame_ && written_ >= *endFrame_;
}

std::int64_t AudioTimeline::silenceToEnd() const {
    return endFrame_ ? std::max<std::int64_t>(0, *endFrame_ - written_) : 0;
}

} // namespace orvo
