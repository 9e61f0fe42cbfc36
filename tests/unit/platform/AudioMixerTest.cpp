#include "platform/linux/AudioMixer.h"

#include <gtest/gtest.h>

#include "platform/linux/CaptureQuality.h"

namespace orvo {
namespace {

TEST(AudioMixer, SumsAlignedSourcesWithoutHalvingThemAndLimitsThePeaks) {
    MediaAssetTrack source{MediaType::audio, "/a.m4a", 0, 10.0, std::nullopt};
    const std::vector<AudioMixer::Input> inputs = {
        {{source, {0.0, 10.0}, 0.0}, 0.0},
        {{source, {2.0, 3.0}, 0.0}, 0.0125},
    };
    const QString description = AudioMixer::filterDescription(inputs);
    // Delays in samples, so that alignment is exact.
    EXPECT_TRUE(description.contains("[in0]atrim=start=0.000000:end=10.000000"));
    EXPECT_TRUE(description.contains("adelay=delays=0S:all=1[a0]"));
    EXPECT_TRUE(description.contains("[in1]atrim=start=2.000000:end=5.000000"));
    EXPECT_TRUE(description.contains("adelay=delays=600S:all=1[a1]"));
    EXPECT_TRUE(description.contains("[a0][a1]amix=inputs=2:"));
    EXPECT_TRUE(description.contains("normalize=0"));
    EXPECT_TRUE(description.contains("alimiter=limit=0.9:level=0"));
    EXPECT_TRUE(description.endsWith("[out]"));
}

TEST(AudioMixer, EncodesAtTheBestSourceRateWithinBounds) {
    EXPECT_EQ(AudioMixer::outputBitRate({}), 128000);
    EXPECT_EQ(AudioMixer::outputBitRate({64000, 192000}), 192000);
    EXPECT_EQ(AudioMixer::outputBitRate({8000}), 64000);
    EXPECT_EQ(AudioMixer::outputBitRate({512000}), 256000);
}

TEST(CaptureQuality, BetterPresetsNeverRecordWorse) {
    const CaptureQuality low = captureQuality(SessionPreset::low);
    const CaptureQuality medium = captureQuality(SessionPreset::medium);
    const CaptureQuality high = captureQuality(SessionPreset::high);
    EXPECT_LT(low.audioBitRate, medium.audioBitRate);
    EXPECT_LT(medium.audioBitRate, high.audioBitRate);
    EXPECT_LT(low.videoFrameRate, medium.videoFrameRate);
    EXPECT_LT(medium.videoFrameRate, high.videoFrameRate);
    EXPECT_GT(low.videoCrf, medium.videoCrf);
    EXPECT_GT(medium.videoCrf, high.videoCrf);
    // A key frame, and so a fragment, every second needs a whole frame rate.
    EXPECT_GE(low.videoFrameRate, 1);
}

} // namespace
} // namespace orvo
