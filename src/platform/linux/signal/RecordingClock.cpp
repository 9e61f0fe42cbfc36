#include "platform/linux/signal/RecordingClock.h"

namespace orvo {

namespace {
constexpr auto togetherWithin = std::chrono::milliseconds(20);
}

RecordingClock::RecordingClock()
    : steadyAnchor_(Clock::now()),
      epochAnchorMicroseconds_(std::chrono::duration_cast<std::chrono::microseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count()) {}

std::int64_t RecordingClock::epochMicroseconds(Clock::time_point point) const {
    return epochAnchorMicroseconds_ +
           std::chrono::duration_cast<std::chrono::microseconds>(point - steadyAnchor_).count();
}

RecordingClock::Clock::time_point RecordingClock::recordingStart() {
    const auto current = Clock::now();
    std::lock_guard lock(mutex_);
    if (!lastStart_ || current - *lastStart_ > togetherWithin) {
        lastStart_ = current;
    }
    return *lastStart_;
}

} // namespace orvo
