#include "platform/linux/AudioTimeline.h"

#include <gtest/gtest.h>

namespace orvo {
namespace {

using namespace std::chrono_literals;
constexpr int rate = 48000;

class AudioTimelineTest : public testing::Test {
protected:
    AudioTimeline::TimePoint start = AudioTimeline::TimePoint(10s);
    AudioTimeline timeline{rate, start};
};

TEST_F(AudioTimelineTest, DropsWhatWasCapturedBeforeTheStart) {
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
}

TEST_F(AudioTimelineTest, StartsWithSilenceUntilTheSourceFirstDelivers) {
    const auto placement = timeline.place(960, start + 250ms);
    EXPECT_EQ(placement.silenceFrames, 12000);
    EXPECT_EQ(placement.keepFrames, 960);
    EXPECT_EQ(timeline.writtenFrames(), 12960);
}

TEST_F(AudioTimelineTest, CountsSamplesThroughBurstsAndFillsOnlyRealGaps) {
    timeline.place(960, start);
    // A burst: a second of audio arriving at once, late, is placed by its count.
    for (int i = 0; i < 50; ++i) {
        const auto placement = timeline.place(960, start + 900ms);
        EXPECT_EQ(placement.silenceFrames, 0);
        EXPECT_EQ(placement.keepFrames, 960);
    }
    EXPECT_EQ(timeline.writtenFrames(), 51 * 960);
    // The source fell silent for three seconds: its next audio goes where it belongs.
    const auto placement = timeline.place(960, start + 4020ms);
    EXPECT_EQ(placement.silenceFrames, 4020 * 48 - 51 * 960);
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

} // namespace
} // namespace orvo
