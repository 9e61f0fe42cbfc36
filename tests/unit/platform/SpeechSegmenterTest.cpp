#include "platform/linux/signal/SpeechSegmenter.h"

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace orvo {
namespace {

constexpr std::size_t frame = SpeechSegmenter::frameSamples;

void append(std::vector<std::int16_t>& audio, double seconds, double amplitude,
            std::mt19937* noise = nullptr) {
    const auto count = static_cast<std::size_t>(seconds * 16000);
    std::normal_distribution<double> hiss(0.0, 300.0);
    for (std::size_t i = 0; i < count; ++i) {
        double value = amplitude * std::sin(double(audio.size()) * 0.3);
        if (noise != nullptr) {
            value += hiss(*noise);
        }
        audio.push_back(static_cast<std::int16_t>(value));
    }
}

// Fed in pieces the size of a decoded AAC frame, which never line up with the 10 ms frames.
std::vector<SpeechSegmenter::Segment> segmented(const std::vector<std::int16_t>& audio) {
    SpeechSegmenter segmenter;
    std::vector<SpeechSegmenter::Segment> segments;
    for (std::size_t at = 0; at < audio.size(); at += 683) {
        segmenter.push(audio.data() + at, std::min<std::size_t>(683, audio.size() - at), segments);
    }
    segmenter.finish(segments);
    return segments;
}

void expectSlice(const std::vector<std::int16_t>& audio, const SpeechSegmenter::Segment& segment) {
    ASSERT_LE(segment.startSample + segment.samples.size(), audio.size());
    EXPECT_TRUE(std::equal(segment.samples.begin(), segment.samples.end(),
                           audio.begin() + static_cast<std::ptrdiff_t>(segment.startSample)));
}

TEST(SpeechSegmenter, CutsAtLongPausesKeepsShortOnesAndDropsClicks) {
    std::vector<std::int16_t> audio;
    append(audio, 1.0, 0);
    append(audio, 0.8, 3000); // a phrase
    append(audio, 0.3, 0);    // a breath inside it
    append(audio, 0.5, 3000);
    append(audio, 2.0, 0);
    append(audio, 0.05, 8000); // a click
    append(audio, 1.0, 0);
    append(audio, 35.0, 3000); // speaking on without a pause, to the end
    const auto segments = segmented(audio);

    ASSERT_EQ(segments.size(), 3U);
    const std::size_t margin = SpeechSegmenter::marginFrames * frame;
    EXPECT_EQ(segments[0].startSample, 16000 - margin);
    EXPECT_EQ(segments[0].samples.size(), margin + (0.8 + 0.3 + 0.5) * 16000 + margin);
    // The long one is cut once it reaches the longest stretch; the parts join without overlap
    // and the last reaches the end of the audio.
    const std::size_t longStart = audio.size() - 35 * 16000;
    EXPECT_EQ(segments[1].startSample, longStart - margin);
    EXPECT_EQ(segments[1].samples.size(),
              (SpeechSegmenter::marginFrames + SpeechSegmenter::longestFrames) * frame);
    EXPECT_EQ(segments[2].startSample, segments[1].startSample + segments[1].samples.size());
    EXPECT_EQ(segments[2].startSample + segments[2].samples.size(), audio.size());
    for (const auto& segment : segments) {
        expectSlice(audio, segment);
    }
}

TEST(SpeechSegmenter, OnAHissingLineThePausesBetweenPhrasesAreStillFound) {
    std::mt19937 noise(7);
    std::vector<std::int16_t> audio;
    for (int phrase = 0; phrase < 4; ++phrase) {
        append(audio, 1.5, 0, &noise);
        append(audio, 1.0, 4000, &noise);
    }
    append(audio, 1.0, 0, &noise);
    const auto segments = segmented(audio);
    ASSERT_EQ(segments.size(), 4U);
    const double margin = SpeechSegmenter::marginFrames * 0.01;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const double start = double(segments[i].startSample) / 16000;
        EXPECT_NEAR(start, 1.5 + 2.5 * double(i) - margin, 0.05);
        EXPECT_NEAR(double(segments[i].samples.size()) / 16000, 1.0 + 2 * margin, 0.05);
        expectSlice(audio, segments[i]);
    }
}

} // namespace
} // namespace orvo
