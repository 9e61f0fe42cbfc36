#include "recording/SilentFarSide.h"

#include <gtest/gtest.h>

namespace orvo {
namespace {

using namespace std::chrono_literals;

constexpr float quiet = -90.0f;
constexpr float speech = -20.0f;

// Looks once a second from a fixed start, as the recording's timer does.
class SilentFarSideTest : public testing::Test {
protected:
    bool lookAt(std::chrono::milliseconds at, std::optional<float> level, bool playing) {
        return rule.observe(start + at, level, playing);
    }
    // Looks each second in [from, to] s; the seconds at which the rule told.
    std::vector<int> lookEachSecond(int from, int to, std::optional<float> level, bool playing) {
        std::vector<int> told;
        for (int second = from; second <= to; ++second) {
            if (lookAt(std::chrono::seconds(second), level, playing)) {
                told.push_back(second);
            }
        }
        return told;
    }

    SilentFarSide rule;
    const SilentFarSide::TimePoint start{std::chrono::hours(1)};
};

TEST_F(SilentFarSideTest, TenSecondsOfSilenceWhilePlayingTellOnceAndNeverAgain) {
    // The first look covers the second before it: silence since 0 s, told at 10 s.
    EXPECT_EQ(lookEachSecond(0, 30, quiet, true), std::vector<int>{10});
    EXPECT_TRUE(lookEachSecond(31, 60, speech, true).empty());
    EXPECT_TRUE(lookEachSecond(61, 90, quiet, true).empty()) << "once per recording";
}

TEST_F(SilentFarSideTest, SoundOrNothingPlayingStartsTheWaitAnew) {
    EXPECT_TRUE(lookEachSecond(1, 9, quiet, true).empty());
    EXPECT_FALSE(lookAt(10s, -59.0f, true)) << "just above the threshold is sound";
    EXPECT_TRUE(lookEachSecond(11, 19, quiet, true).empty());
    EXPECT_FALSE(lookAt(20s, quiet, false)) << "a silent far side while nothing plays is fine";
    EXPECT_TRUE(lookEachSecond(21, 29, quiet, true).empty());
    EXPECT_FALSE(lookAt(30s, std::nullopt, true)) << "no samples are no evidence of silence";
    EXPECT_EQ(lookEachSecond(31, 45, quiet, true), std::vector<int>{40});
}

TEST_F(SilentFarSideTest, LateLooksCountTheTimeTheyCover) {
    EXPECT_FALSE(lookAt(0s, speech, true));
    EXPECT_FALSE(lookAt(4s, quiet, true));
    EXPECT_FALSE(lookAt(9900ms, quiet, true));
    EXPECT_TRUE(lookAt(10s, quiet, true)) << "silent since the look at 0 s";
}

} // namespace
} // namespace orvo
