#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>

namespace orvo {

// The one clock of a capture session. Every output times its samples against it, and every
// segment of one recording starts at the same instant of it.
class RecordingClock {
public:
    using Clock = std::chrono::steady_clock;

    RecordingClock();

    // Any thread.
    Clock::time_point now() const { return Clock::now(); }
    // Any thread. Wall-clock microseconds since the Unix epoch of a point of this clock.
    std::int64_t epochMicroseconds(Clock::time_point point) const;

    // Any thread. Where a recording starting now begins: outputs started together (within
    // 20 ms of the first) share the first one's start exactly.
    Clock::time_point recordingStart();

private:
    Clock::time_point steadyAnchor_;
    std::int64_t epochAnchorMicroseconds_;
    std::mutex mutex_;                           // guards lastStart_
    std::optional<Clock::time_point> lastStart_; // the start handed out last
};

} // namespace orvo
