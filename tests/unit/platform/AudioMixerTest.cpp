#include "platform/linux/media/AudioMixer.h"

#include <gtest/gtest.h>

namespace orvo {
namespace {

TEST(AudioMixer, EncodesAtTheBestSourceRateWithinBounds) {
    EXPECT_EQ(AudioMixer::outputBitRate({}), 128000);
    EXPECT_EQ(AudioMixer::outputBitRate({64000, 192000}), 192000);
    EXPECT_EQ(AudioMixer::outputBitRate({8000}), 64000);
    EXPECT_EQ(AudioMixer::outputBitRate({512000}), 256000);
}

} // namespace
} // namespace orvo
