#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace orvo {

// Places captured audio on a segment's timeline. Position follows the count of samples
// received, not the time each chunk arrives (a monitor of an idle sink delivers in bursts);
// the clock fixes the start, fills real gaps in delivery, fixes the end, and, read over a
// few seconds at a time, tells when a source's own clock runs fast or slow.
class AudioTimeline {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // What to do with one chunk: write silenceFrames of silence, drop the chunk's first
    // skipFrames, then write its next keepFrames lengthened (or, negative, shortened) by
    // stretchFrames.
    struct Placement {
        std::int64_t silenceFrames = 0;
        std::int64_t skipFrames = 0;
        std::int64_t keepFrames = 0;
        std::int64_t stretchFrames = 0;
    };

    AudioTimeline(int sampleRate, TimePoint start);

    // A chunk of frames whose first frame was captured at captureTime.
    Placement place(std::int64_t frames, TimePoint captureTime);
    // After a chunk was written: the frames really on the timeline, since a stretch can land
    // a frame or so off the one asked for.
    void settle(std::int64_t frames) { written_ = frames; }
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
    // How much audio one reading of the source's drift looks at.
    static constexpr std::chrono::milliseconds driftWindow{1000};
    // A drift smaller than this is left alone: nobody hears two voices this far apart, and
    // chasing it would only wobble the pitch over the noise of the readings.
    static constexpr std::chrono::milliseconds driftTolerance{5};
    // A source read this far behind is put back with silence at once instead of stretched; a
    // source ahead is always stretched, since catching up at once would drop what it said.
    static constexpr std::chrono::milliseconds resyncBehind{50};
    // ... when the middle half of the readings agree within this.
    static constexpr std::chrono::milliseconds resyncAgreement{20};
    // The most a stretch changes the pace of the audio, in parts per ten thousand (0.5%, a
    // twelfth of a semitone, which nobody hears).
    static constexpr std::int64_t maxStretchPer10000 = 50;

private:
    std::int64_t framesAt(TimePoint point) const;
    // Silence to put in now, if any.
    std::int64_t readDrift(std::int64_t position);
    std::int64_t stretchFor(std::int64_t keepFrames);

    int sampleRate_;
    TimePoint start_;
    std::optional<std::int64_t> endFrame_;
    std::int64_t written_ = 0;
    // The drift reading: how far each chunk of the current window landed behind its time.
    std::vector<std::int64_t> lags_;
    std::int64_t windowStart_ = 0;
    std::optional<std::int64_t> previousLag_; // the last window's, not yet acted on
    // Frames still to gain (positive) or lose (negative) through stretching, and the
    // stretch earned by the frames kept so far, in ten-thousandths of a frame.
    std::int64_t owed_ = 0;
    std::int64_t allowance_ = 0;
};

} // namespace orvo
