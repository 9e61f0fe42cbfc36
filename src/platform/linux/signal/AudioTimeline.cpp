#include "platform/linux/signal/AudioTimeline.h"

#include <algorithm>
#include <cstdlib>

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
        // The gap put the source back on time: what was read before no longer holds.
        lags_.clear();
        windowStart_ = position;
        owed_ = 0;
        previousLag_.reset();
    } else if (written_ > 0) {
        placement.silenceFrames = readDrift(position);
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
    } else {
        placement.stretchFrames = stretchFor(placement.keepFrames);
    }
    written_ += placement.keepFrames + placement.stretchFrames;
    return placement;
}

std::int64_t AudioTimeline::readDrift(std::int64_t position) {
    // Counted as if what is owed were already written, so that no drift is corrected twice.
    lags_.push_back(position - (written_ + owed_));
    if (written_ - windowStart_ < driftWindow.count() * sampleRate_ / 1000) {
        return 0;
    }
    // The median: a late or early reading of the stream's latency does not move it.
    std::sort(lags_.begin(), lags_.end());
    const std::int64_t lag = lags_[lags_.size() / 2];
    const std::int64_t spread = lags_[lags_.size() * 3 / 4] - lags_[lags_.size() / 4];
    lags_.clear();
    windowStart_ = written_;
    // Only a lag two readings in a row agree on: a sink whose latency changes while a sound
    // joins it shifts one reading, and that shift goes away again.
    const std::int64_t tolerance = driftTolerance.count() * sampleRate_ / 1000;
    const bool agreed = std::abs(lag) > tolerance && previousLag_ &&
                        std::abs(*previousLag_) > tolerance && (*previousLag_ > 0) == (lag > 0);
    if (!agreed) {
        previousLag_ = lag;
        return 0;
    }
    const std::int64_t lagBoth =
        lag > 0 ? std::min(lag, *previousLag_) : std::max(lag, *previousLag_);
    previousLag_.reset();
    if (lagBoth > resyncBehind.count() * sampleRate_ / 1000 &&
        spread < resyncAgreement.count() * sampleRate_ / 1000) {
        // Far behind by readings that agree (a source that began with a bad reading, not
        // one that delivers in bursts): silence puts it back at once and loses nothing.
        const std::int64_t silence = lagBoth + owed_;
        owed_ = 0;
        return silence;
    }
    owed_ += lagBoth;
    return 0;
}

std::int64_t AudioTimeline::stretchFor(std::int64_t keepFrames) {
    if (owed_ == 0) {
        allowance_ = 0;
        return 0;
    }
    allowance_ += keepFrames * maxStretchPer10000;
    // What was earned may be spent faster, but at most twice as fast: small chunks come too.
    const std::int64_t size = std::min(
        {std::abs(owed_), allowance_ / 10000, keepFrames * 2 * maxStretchPer10000 / 10000});
    allowance_ -= size * 10000;
    const std::int64_t stretch = owed_ > 0 ? size : -size;
    owed_ -= stretch;
    return stretch;
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
