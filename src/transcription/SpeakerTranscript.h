#pragma once

#include <vector>

#include <QString>

#include "platform/SpeechRecognizer.h"

namespace orvo {

// The words of each side of a call, put into one text that says who spoke.
class SpeakerTranscript {
public:
    SpeakerTranscript() = delete;

    // Words of one speaker closer than this belong to one phrase; phrases, not words, are
    // ordered by time, so that both sides talking at once do not shuffle their words.
    static constexpr double phraseGapSeconds = 1.0;

    // All the words in time order of their phrases.
    static std::vector<SpeechSegment> merged(const std::vector<std::vector<SpeechSegment>>& sides);
    // One line per turn, "<speaker>: <words>"; consecutive phrases of a speaker share a line.
    static QString text(const std::vector<SpeechSegment>& mergedWords);
};

} // namespace orvo
