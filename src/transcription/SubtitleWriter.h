#pragma once

#include <optional>
#include <vector>

#include <QString>

#include "platform/SpeechRecognizer.h"

namespace orvo {

// Subtitles (SubRip) of a transcription, in a file beside the media file.
class SubtitleWriter {
public:
    SubtitleWriter() = delete;

    // Words closer than this, and within one cue's length, share a cue.
    static constexpr double cueGapSeconds = 0.8;
    static constexpr double cueLengthSeconds = 6.0;

    // "<media name without extension>.srt" in the media file's folder.
    static QString subtitlePath(const QString& mediaPath);
    // Cues in time order, each of one speaker, who is named in front of the words; a cue ends
    // no later than the next one starts.
    static QString srtText(const std::vector<SpeechSegment>& segments);
    // Any thread. Writes the file whole or not at all; the error's text when it cannot.
    static std::optional<QString> write(const QString& mediaPath,
                                        const std::vector<SpeechSegment>& segments);
    // 3723.5 → "01:02:03,500".
    static QString timeText(double seconds);
};

} // namespace orvo
