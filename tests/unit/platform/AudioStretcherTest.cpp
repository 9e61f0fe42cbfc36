#include "platform/linux/capture/AudioStretcher.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace orvo {
namespace {

constexpr int rate = 48000;
constexpr int channels = 2;
constexpr double amplitude = 0.5;
constexpr double frequency = 1000;

std::vector<float> tone(std::int64_t firstFrame, std::int64_t frames) {
    std::vector<float> samples;
    for (std::int64_t i = firstFrame; i < firstFrame + frames; ++i) {
        const double phase = 2 * std::numbers::pi * frequency * double(i) / rate;
        samples.insert(samples.end(), channels, float(amplitude * std::sin(phase)));
    }
    return samples;
}

TEST(AudioStretcherTest, LengthensAndShortensByTheFramesAskedForWithoutAClick) {
    AudioStretcher stretcher(rate, channels);
    std::vector<float> out;
    std::int64_t given = 0;
    // Five seconds slower, five seconds faster, then plain.
    for (int chunk = 0; chunk < 750; ++chunk) {
        const std::int64_t stretch = chunk < 250 ? 4 : chunk < 500 ? -4 : 0;
        ASSERT_FALSE(stretcher.process(tone(given, 960).data(), 960, stretch, out));
        given += 960;
    }
    // Each stretch lands within rounding of what was asked, and the count it reports is
    // what it hands out in the end.
    const std::int64_t counted = stretcher.frames();
    EXPECT_NEAR(double(counted), double(given), 8);
    ASSERT_FALSE(stretcher.flush(out));
    const auto frames = std::int64_t(out.size() / channels);
    EXPECT_NEAR(double(frames), double(counted), 1);

    // The tone stays whole: no jump between neighbouring samples beyond what the tone
    // itself makes, and its loudness kept.
    const double steepest = 2 * std::numbers::pi * frequency / rate * amplitude;
    double peak = 0;
    for (std::int64_t i = 100; i + 100 < frames; ++i) {
        const double step =
            std::abs(out[std::size_t((i + 1) * channels)] - out[std::size_t(i * channels)]);
        ASSERT_LE(step, steepest * 1.05) << "at frame " << i;
        EXPECT_EQ(out[std::size_t(i * channels)], out[std::size_t(i * channels + 1)]);
        peak = std::max(peak, double(std::abs(out[std::size_t(i * channels)])));
    }
    EXPECT_NEAR(peak, amplitude, 0.02);
}

TEST(AudioStretcherTest, PassesAudioUnchangedUntilAStretchIsAsked) {
    AudioStretcher stretcher(rate, channels);
    std::vector<float> out;
    const auto input = tone(0, 4800);
    ASSERT_FALSE(stretcher.process(input.data(), 4800, 0, out));
    EXPECT_EQ(out, input);
}

} // namespace
} // namespace orvo
