#include "platform/linux/signal/LiveAudioMix.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvo {
namespace {

constexpr std::int64_t window = 100;

// Every side delivers constant blocks; the mix is kept as it comes out.
class LiveAudioMixTest : public testing::Test {
protected:
    void add(int side, float value, std::int64_t frames) {
        const std::vector<float> block(std::size_t(frames * 2), value);
        mix.add(side, block.data(), frames);
    }
    // The left channel of what came out.
    std::vector<float> left() const {
        std::vector<float> channel;
        for (std::size_t i = 0; i < out.size(); i += 2)
            channel.push_back(out[i]);
        return channel;
    }

    // Each side's share of the mix, as handed on beside it: together, the mix.
    void expectSidesMakeTheMix() const {
        ASSERT_EQ(shares[0].size(), out.size());
        ASSERT_EQ(shares[1].size(), out.size());
        for (std::size_t i = 0; i < out.size(); ++i)
            EXPECT_FLOAT_EQ(shares[0][i] + shares[1][i], out[i]) << i;
    }

    std::vector<float> out;
    std::vector<float> shares[2];
    LiveAudioMix mix{2, window,
                     [this](const float* samples, std::int64_t frames) {
                         out.insert(out.end(), samples, samples + frames * 2);
                     },
                     [this](const std::vector<std::vector<float>>& sides, std::int64_t frames) {
                         for (std::size_t side = 0; side < 2; ++side) {
                             EXPECT_EQ(sides[side].size(), std::size_t(frames * 2));
                             shares[side].insert(shares[side].end(), sides[side].begin(),
                                                 sides[side].end());
                         }
                     }};
};

TEST_F(LiveAudioMixTest, SumsTheSidesAsFarAsBothHaveDelivered) {
    add(0, 0.25f, 60);
    EXPECT_TRUE(out.empty());
    add(1, 0.5f, 40);
    EXPECT_EQ(mix.mixedFrames(), 40);
    add(1, 0.5f, 40);
    ASSERT_EQ(mix.mixedFrames(), 60);
    for (float sample : out)
        EXPECT_FLOAT_EQ(sample, 0.75f);
    EXPECT_FALSE(mix.end(0));
    EXPECT_TRUE(mix.end(1));
    // The longest side decides the end; the other counts as silence there.
    const auto mixed = left();
    ASSERT_EQ(mixed.size(), 80u);
    EXPECT_FLOAT_EQ(mixed[79], 0.5f);
}

TEST_F(LiveAudioMixTest, ASideThatStopsDeliveringHoldsTheMixBackNoLongerThanTheWindow) {
    add(0, 0.25f, 50);
    add(1, 0.5f, 50);
    // Side 1 goes quiet (a lost source): the mix follows side 0 one window behind.
    add(0, 0.25f, 400);
    EXPECT_EQ(mix.mixedFrames(), 450 - window);
    // It comes back with what it missed as silence: too late for the mix, which is not redone.
    add(1, 0.0f, 380);
    add(1, 0.5f, 20);
    add(0, 0.25f, 20);
    const auto mixed = left();
    ASSERT_EQ(mixed.size(), 450u);
    EXPECT_FLOAT_EQ(mixed[10], 0.75f);
    EXPECT_FLOAT_EQ(mixed[200], 0.25f);
    EXPECT_FLOAT_EQ(mixed[440], 0.75f);
    EXPECT_EQ(mix.lateFrames(1), 300);
    EXPECT_EQ(mix.lateAudibleFrames(1), 0);
    expectSidesMakeTheMix();
    // Sound that comes too late is what the mix lacks.
    add(0, 0.25f, 2 * window);
    add(1, 0.5f, 20);
    EXPECT_EQ(mix.lateAudibleFrames(1), 20);
}

TEST_F(LiveAudioMixTest, ASideThatEndsOrBeginsLateCountsAsSilence) {
    mix.start(1, 30);
    add(0, 0.25f, 40);
    EXPECT_EQ(mix.mixedFrames(), 30);
    add(1, 0.5f, 10);
    EXPECT_FALSE(mix.end(1));
    add(0, 0.25f, 40);
    const auto mixed = left();
    ASSERT_EQ(mixed.size(), 80u);
    EXPECT_FLOAT_EQ(mixed[29], 0.25f);
    EXPECT_FLOAT_EQ(mixed[35], 0.75f);
    EXPECT_FLOAT_EQ(mixed[79], 0.25f);
    expectSidesMakeTheMix();
    EXPECT_FLOAT_EQ(shares[1][2 * 29], 0.0f);
    EXPECT_FLOAT_EQ(shares[1][2 * 35], 0.5f);
    // Frames after a side's end are not taken.
    add(1, 0.5f, 10);
    EXPECT_TRUE(mix.end(0));
    EXPECT_EQ(left().size(), 80u);
}

} // namespace
} // namespace orvo
