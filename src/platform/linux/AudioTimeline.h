#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace orvo {

// Places captured audio on a segment's timeline. Position follows the count of samples
// received, not the time each chunk arrives (a monitor of an idle sink delivers in bursts);
// the clock only fixes the start, fills real gaps in delivery and fixes the end.
class AudioTimeline {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // What to do with one chunk: write silenceFrames of silence, drop the chunk's first
    // skipFrames, then write its next keepFrames.
    struct Placement {
        std::int64_t silenceFrames = 0;
        std::int64_t skipFrames = 0;
        std::int64_t keepFrames = 0;
    };

    AudioTimeline(int sampleRate, TimePoint start);

    // A chunk of frames whose first frame was captured at captureTime.
    Placement place(std::int64_t frames, TimePoint captureTime);
    // The segment ends at end: nothing after it is kept.
    void setEnd(TimePoint end);
    // Whether the samples written have reached the end.
    bool reachedEnd() const;
    // Silence still owed to reach the end (0 without an end).
    std::int64_t silenceToEnd() const;
    // Frames written so far.
    std::int64_t writtenFrames() const { return written_; }

    // A gap in delivery longer than this is filled with silence.
    static constexpr std::chrono::milliseconds gapTolerance{1000};

private:
    std::int64_t framesAt(TimePoint point) const;

    int sampleRate_;
    TimePoint start_;
    std::optional<std::int64_t> endFrame_;
    std::int64_t written_ = 0;
};

} // namespace orvo
