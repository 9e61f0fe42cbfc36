#include "transcription/SubtitleWriter.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include <QFileInfo>
#include <QSaveFile>

namespace orvo {

namespace {

struct Cue {
    double start = 0;
    double end = 0;
    QString text;
};

// The cues of one speaker's words.
void addCues(std::vector<SpeechSegment> segments, std::vector<Cue>& cues) {
    std::stable_sort(segments.begin(), segments.end(), [](const auto& a, const auto& b) {
        return a.timestampSeconds < b.timestampSeconds;
    });
    const std::size_t first = cues.size();
    for (const auto& segment : segments) {
        const QString text = segment.substring.trimmed();
        if (text.isEmpty()) {
            continue;
        }
        const double start = std::max(0.0, segment.timestampSeconds);
        const double end = start + std::max(0.0, segment.durationSeconds);
        if (cues.size() > first && start - cues.back().end <= SubtitleWriter::cueGapSeconds &&
            end - cues.back().start <= SubtitleWriter::cueLengthSeconds) {
            cues.back().end = std::max(cues.back().end, end);
            cues.back().text += ' ' + text;
        } else {
            const QString prefix =
                segment.speaker.isEmpty() ? QString() : segment.speaker + QStringLiteral(": ");
            cues.push_back({start, end, prefix + text});
        }
    }
}

std::vector<Cue> cuesOf(const std::vector<SpeechSegment>& segments) {
    // A cue holds one speaker's words, also while both sides talk at once.
    std::vector<QString> speakers;
    for (const auto& segment : segments) {
        if (std::find(speakers.begin(), speakers.end(), segment.speaker) == speakers.end()) {
            speakers.push_back(segment.speaker);
        }
    }
    std::vector<Cue> cues;
    for (const auto& speaker : speakers) {
        std::vector<SpeechSegment> own;
        std::copy_if(segments.begin(), segments.end(), std::back_inserter(own),
                     [&](const auto& segment) { return segment.speaker == speaker; });
        addCues(std::move(own), cues);
    }
    std::stable_sort(cues.begin(), cues.end(),
                     [](const auto& a, const auto& b) { return a.start < b.start; });
    // Players show overlapping cues stacked; one line at a time reads better.
    for (std::size_t i = 0; i + 1 < cues.size(); ++i) {
        cues[i].end = std::min(cues[i].end, cues[i + 1].start);
    }
    return cues;
}

} // namespace

QString SubtitleWriter::subtitlePath(const QString& mediaPath) {
    const QFileInfo info(mediaPath);
    return info.path() + '/' + info.completeBaseName() + QStringLiteral(".srt");
}

QString SubtitleWriter::timeText(double seconds) {
    const auto totalMs = static_cast<long long>(std::llround(std::max(0.0, seconds) * 1000.0));
    return QStringLiteral("%1:%2:%3,%4")
        .arg(totalMs / 3600000, 2, 10, QChar('0'))
        .arg(totalMs / 60000 % 60, 2, 10, QChar('0'))
        .arg(totalMs / 1000 % 60, 2, 10, QChar('0'))
        .arg(totalMs % 1000, 3, 10, QChar('0'));
}

QString SubtitleWriter::srtText(const std::vector<SpeechSegment>& segments) {
    QString text;
    int number = 0;
    for (const auto& cue : cuesOf(segments)) {
        text += QString::number(++number) + '\n' + timeText(cue.start) + QStringLiteral(" --> ") +
                timeText(cue.end) + '\n' + cue.text + QStringLiteral("\n\n");
    }
    return text;
}

std::optional<QString> SubtitleWriter::write(const QString& mediaPath,
                                             const std::vector<SpeechSegment>& segments) {
    QSaveFile file(subtitlePath(mediaPath));
    if (!file.open(QIODevice::WriteOnly)) {
        return file.errorString();
    }
    file.write(srtText(segments).toUtf8());
    if (!file.commit()) {
        return file.errorString();
    }
    return std::nullopt;
}

} // namespace orvo
