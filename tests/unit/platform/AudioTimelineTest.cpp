#include "platform/linux/signal/AudioTimeline.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

namespace orvo {
namespace {

using namespace std::chrono_literals;
constexpr int rate = 48000;

class AudioTimelineTest : public testing::Test {
protected:
    AudioTimeline::TimePoint start = AudioTimeline::TimePoint(10s);
    AudioTimeline timeline{rate, start};
};

TEST_F(AudioTimelineTest, DropsWhatWasCapturedBeforeTheStartAndFillsTheWaitAfterIt) {
    // Entirely before: nothing kept.
    auto placement = timeline.place(960, start - 40ms);
    EXPECT_EQ(placement.skipFrames, 960);
    EXPECT_EQ(placement.keepFrames, 0);
    // Straddling: cut at the start's sample.
    placement = timeline.place(960, start - 10ms);
    EXPECT_EQ(placement.silenceFrames, 0);
    EXPECT_EQ(placement.skipFrames, 480);
    EXPECT_EQ(placement.keepFrames, 480);
    EXPECT_EQ(timeline.writtenFrames(), 480);

    // Silence until a source first delivers.
    AudioTimeline late{rate, start};
    placement = late.place(960, start + 250ms);
    EXPECT_EQ(placement.silenceFrames, 12000);
    EXPECT_EQ(placement.keepFrames, 960);
    EXPECT_EQ(late.writtenFrames(), 12960);
}

TEST_F(AudioTimelineTest, CountsSamplesThroughBurstsAndFillsOnlyRealGaps) {
    timeline.place(960, start);
    // A burst: a second of audio arriving at once, late, is placed by its count. Its readings
    // disagree by a second, so they make no silence; at most a slight stretch.
    for (int i = 0; i < 50; ++i) {
        const auto placement = timeline.place(960, start + 900ms);
        EXPECT_EQ(placement.silenceFrames, 0);
        EXPECT_EQ(placement.keepFrames, 960);
        EXPECT_LE(std::abs(placement.stretchFrames), 10);
    }
    EXPECT_NEAR(double(timeline.writtenFrames()), 51 * 960, 51 * 960 / 100);
    // The source fell silent for three seconds: its next audio goes where it belongs.
    const auto placement = timeline.place(960, start + 4020ms);
    EXPECT_NEAR(double(placement.silenceFrames), 4020 * 48 - 51 * 960, 51 * 960 / 100);
    EXPECT_EQ(timeline.writtenFrames(), 4020 * 48 + 960);
}

TEST_F(AudioTimelineTest, EndsExactlyAtTheStop) {
    timeline.place(48000, start);
    timeline.setEnd(start + 1500ms);
    EXPECT_FALSE(timeline.reachedEnd());
    EXPECT_EQ(timeline.silenceToEnd(), 24000);
    const auto placement = timeline.place(48000, start + 1s);
    EXPECT_EQ(placement.keepFrames, 24000);
    EXPECT_TRUE(timeline.reachedEnd());
    EXPECT_EQ(timeline.silenceToEnd(), 0);
    EXPECT_EQ(timeline.place(960, start + 2s).keepFrames, 0);
    EXPECT_EQ(timeline.writtenFrames(), 72000);
}

// A source whose clock runs at (1 + ppm / 1e6) times the recording clock's pace, read in
// 20-ms chunks whose capture times are off by up to jitter, and now and then far off.
struct DriftingSource {
    double ppm = 0;
    std::chrono::microseconds jitter{0};
    std::int64_t deliveredFrames = 0;
    std::mt19937 random{7};

    AudioTimeline::TimePoint trueTimeOfNextFrame(AudioTimeline::TimePoint start) const {
        const double seconds = double(deliveredFrames) / (rate * (1 + ppm / 1e6));
        return start + std::chrono::microseconds(std::int64_t(seconds * 1e6));
    }
    AudioTimeline::TimePoint readCaptureTime(AudioTimeline::TimePoint start) {
        std::uniform_int_distribution<std::int64_t> noise(-jitter.count(), jitter.count());
        auto reading = trueTimeOfNextFrame(start) + std::chrono::microseconds(noise(random));
        if (random() % 50 == 0) {
            reading += 300ms; // a latency reading taken in the middle of a burst
        }
        return reading;
    }
};

struct DriftOutcome {
    std::int64_t endLagFrames = 0; // where the next frame belongs minus where it would land
    std::int64_t largestStretch = 0;
    std::int64_t totalStretch = 0;
};

// What count 20-ms chunks of a source added up to on the timeline.
AudioTimeline::Placement placeChunks(AudioTimeline& timeline, AudioTimeline::TimePoint start,
                                     DriftingSource& source, int count) {
    AudioTimeline::Placement total;
    for (int chunk = 0; chunk < count; ++chunk) {
        const auto placement = timeline.place(960, source.readCaptureTime(start));
        source.deliveredFrames += 960;
        total.silenceFrames += placement.silenceFrames;
        total.skipFrames += placement.skipFrames;
        total.keepFrames += placement.keepFrames;
        total.stretchFrames += placement.stretchFrames;
    }
    return total;
}

DriftOutcome recordFor(AudioTimeline& timeline, AudioTimeline::TimePoint start,
                       DriftingSource& source, std::chrono::seconds length) {
    DriftOutcome outcome;
    while (source.trueTimeOfNextFrame(start) < start + length) {
        const auto placement = timeline.place(960, source.readCaptureTime(start));
        source.deliveredFrames += 960;
        outcome.largestStretch =
            std::max(outcome.largestStretch, std::abs(placement.stretchFrames));
        outcome.totalStretch += std::abs(placement.stretchFrames);
    }
    const auto trueTime = source.trueTimeOfNextFrame(start) - start;
    outcome.endLagFrames =
        std::chrono::duration_cast<std::chrono::microseconds>(trueTime).count() * rate / 1000000 -
        timeline.writtenFrames();
    return outcome;
}

TEST_F(AudioTimelineTest, KeepsASourceWithAFastOrSlowClockOnTheRecordingClock) {
    // Uncorrected, ten minutes at 300 ppm put a source 180 ms off.
    // A drift is acted on once two readings agree, so a fast one may lag a little more.
    for (const auto& [ppm, within] : {std::pair{300.0, 7ms}, std::pair{-300.0, 7ms},
                                      std::pair{2500.0, 12ms}, std::pair{-2500.0, 12ms}}) {
        SCOPED_TRACE(ppm);
        AudioTimeline drifting{rate, start};
        DriftingSource source{ppm, 5ms};
        const DriftOutcome outcome = recordFor(drifting, start, source, 600s);
        EXPECT_LE(std::abs(outcome.endLagFrames), within.count() * rate / 1000);
        // Never more than a percent faster or slower in any chunk (9.6 frames of 960).
        EXPECT_LE(outcome.largestStretch, 9);
    }
}

TEST_F(AudioTimelineTest, LeavesASourceOnTimeAloneThroughNoisyReadings) {
    DriftingSource source{0, 5ms};
    const DriftOutcome outcome = recordFor(timeline, start, source, 600s);
    EXPECT_LE(std::abs(outcome.endLagFrames), 5 * rate / 1000);
    // Hardly a correction of the noise; reading the mean instead of the median, the late
    // readings alone would stretch every chunk, some 3 s in all.
    EXPECT_LE(outcome.totalStretch, 100 * rate / 1000);
}

TEST_F(AudioTimelineTest, PutsASourceThatBeganWithABadReadingBackWithoutLosingAudio) {
    // The source begins a second in. Its first reading says 550 ms earlier; the rest are right.
    DriftingSource source;
    source.deliveredFrames = rate;
    timeline.place(960, source.readCaptureTime(start) - 550ms);
    source.deliveredFrames += 960;
    const auto total = placeChunks(timeline, start, source, 150);
    EXPECT_NEAR(double(total.silenceFrames), 550 * rate / 1000, rate / 1000);
    EXPECT_EQ(960 + total.keepFrames, source.deliveredFrames - rate);
    EXPECT_LE(std::abs(recordFor(timeline, start, source, 8s).endLagFrames), 5 * rate / 1000);
}

TEST_F(AudioTimelineTest, NeverDropsAudioOfASourceAhead) {
    // The first reading is 550 ms late: the audio sits late and can only be caught up by
    // playing it slightly faster, never by cutting it.
    DriftingSource source;
    timeline.place(960, source.readCaptureTime(start) + 550ms);
    source.deliveredFrames += 960;
    const auto total = placeChunks(timeline, start, source, 3000);
    EXPECT_EQ(total.silenceFrames + total.skipFrames, 0);
    EXPECT_EQ(960 + total.keepFrames, source.deliveredFrames);
    // A minute at half a percent faster: about 300 ms caught up.
    EXPECT_NEAR(double(total.stretchFrames), -0.005 * double(source.deliveredFrames), rate / 50);
}

TEST_F(AudioTimelineTest, StretchesNothingOnceTheEndIsKnown) {
    DriftingSource source{2500, 0ms};
    recordFor(timeline, start, source, 20s);
    timeline.setEnd(start + 21s);
    for (int i = 0; i < 60; ++i) {
        EXPECT_EQ(timeline.place(960, source.readCaptureTime(start)).stretchFrames, 0);
        source.deliveredFrames += 960;
    }
    EXPECT_EQ(timeline.writtenFrames(), 21 * rate);
}

TEST_F(AudioTimelineTest, FollowsWhatWasReallyWritten) {
    timeline.place(960, start);
    timeline.settle(962);
    EXPECT_EQ(timeline.writtenFrames(), 962);
    EXPECT_EQ(timeline.place(960, start + 20ms).keepFrames, 960);
    EXPECT_EQ(timeline.writtenFrames(), 1922);
}

} // namespace
} // namespace orvo
