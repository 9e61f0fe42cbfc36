#include "transcription/SpeakerTranscript.h"

#include <gtest/gtest.h>

namespace orvo {
namespace {

std::vector<SpeechSegment> said(const QString& speaker, std::vector<SpeechSegment> words) {
    for (auto& word : words) {
        word.speaker = speaker;
    }
    return words;
}

QString transcript(const std::vector<std::vector<SpeechSegment>>& sides) {
    return SpeakerTranscript::text(SpeakerTranscript::merged(sides));
}

TEST(SpeakerTranscript, TurnsInTimeOrderWithTheWordsOfAPhraseKeptTogether) {
    // Given out of order; the far side answers while the near one still talks.
    const auto you = said("You", {{"morning", 0.6, 0.4}, {"good", 0.1, 0.4}, {"later", 8.0, 0.4}});
    const auto them = said("Them", {{"hello", 0.5, 0.3}, {" ", 0.9, 0.1}, {"there", 0.9, 0.3}});
    EXPECT_EQ(transcript({you, them}), "You: good morning\nThem: hello there\nYou: later");
    // At one instant the first side speaks first.
    EXPECT_EQ(transcript({said("You", {{"a", 1.0, 0.1}}), said("Them", {{"b", 1.0, 0.1}})}),
              "You: a\nThem: b");
}

TEST(SpeakerTranscript, ConsecutivePhrasesOfOneSpeakerShareALine) {
    const auto you = said("You", {{"one", 0.0, 0.3}, {"two", 5.0, 0.3}, {"four", 20.0, 0.3}});
    const auto them = said("Them", {{"three", 10.0, 0.3}});
    const auto words = SpeakerTranscript::merged({you, them});
    ASSERT_EQ(words.size(), 4U);
    EXPECT_EQ(words[2].substring, "three");
    EXPECT_EQ(SpeakerTranscript::text(words), "You: one two\nThem: three\nYou: four");
    EXPECT_EQ(transcript({{}, {}}), "");
}

} // namespace
} // namespace orvo
