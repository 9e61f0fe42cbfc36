#include "transcription/SpeakerTranscript.h"

#include <algorithm>
#include <iterator>

namespace orvo {

namespace {

struct Phrase {
    double startSeconds = 0;
    std::size_t side = 0;
    std::vector<SpeechSegment> words;
};

} // namespace

std::vector<SpeechSegment>
SpeakerTranscript::merged(const std::vector<std::vector<SpeechSegment>>& sides) {
    std::vector<Phrase> phrases;
    for (std::size_t side = 0; side < sides.size(); ++side) {
        auto words = sides[side];
        std::stable_sort(words.begin(), words.end(), [](const auto& a, const auto& b) {
            return a.timestampSeconds < b.timestampSeconds;
        });
        double endSeconds = 0;
        for (auto& word : words) {
            if (word.substring.trimmed().isEmpty()) {
                continue;
            }
            if (phrases.empty() || phrases.back().side != side ||
                word.timestampSeconds - endSeconds > phraseGapSeconds) {
                phrases.push_back({word.timestampSeconds, side, {}});
            }
            endSeconds = std::max(endSeconds, word.timestampSeconds + word.durationSeconds);
            phrases.back().words.push_back(std::move(word));
        }
    }
    // Stable: at one instant the earlier side (the near one) comes first.
    std::stable_sort(phrases.begin(), phrases.end(),
                     [](const auto& a, const auto& b) { return a.startSeconds < b.startSeconds; });
    std::vector<SpeechSegment> result;
    for (auto& phrase : phrases) {
        std::move(phrase.words.begin(), phrase.words.end(), std::back_inserter(result));
    }
    return result;
}

QString SpeakerTranscript::text(const std::vector<SpeechSegment>& mergedWords) {
    QString text;
    const QString* speaker = nullptr;
    for (const auto& word : mergedWords) {
        if (speaker == nullptr || *speaker != word.speaker) {
            if (speaker != nullptr) {
                text += '\n';
            }
            speaker = &word.speaker;
            text += word.speaker + QStringLiteral(": ");
        } else {
            text += ' ';
        }
        text += word.substring.trimmed();
    }
    return text;
}

} // namespace orvo
