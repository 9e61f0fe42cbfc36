#pragma once

#include <optional>
#include <vector>

#include <QDateTime>
#include <QString>

namespace orvo {

class RealmRecordModel;

// The forms a transcript leaves the program in.
enum class TranscriptFormat { plainText, markdown, subtitles };

// A record's transcript as the user takes it away: its stored text, and the subtitles that
// its transcription wrote beside the file, which know when each phrase was said. Main thread
// to read a record; the forms themselves are plain text.
class TranscriptExport {
public:
    // One speaker's words from one moment on, as the subtitles hold them.
    struct Turn {
        std::optional<double> startSeconds; // absent when no subtitles tell
        QString speaker;                    // empty for a recording of one side
        QString words;
    };

    TranscriptExport(QString title, QDateTime time, QString text, std::optional<QString> subtitles);
    static TranscriptExport of(const RealmRecordModel& record);

    const QString& title() const { return title_; }
    bool isEmpty() const { return text_.trimmed().isEmpty(); }
    bool hasSubtitles() const { return subtitles_.has_value(); }

    QString plainText() const;
    // A heading with the title and time, then a paragraph a turn: "[mm:ss] **Speaker:** words".
    QString markdown() const;
    // The subtitles as written beside the file; absent without them.
    const std::optional<QString>& subtitles() const { return subtitles_; }
    // The text of the format; absent when the record has no text for it.
    std::optional<QString> formatted(TranscriptFormat format) const;
    // Writes the format to path, whole or not at all; the error's text when it cannot.
    std::optional<QString> save(TranscriptFormat format, const QString& path) const;

    // The subtitles' cues, consecutive ones of a speaker joined; without subtitles, the lines
    // of the stored text, untimed.
    std::vector<Turn> turns() const;
    // 83.4 → "01:23"; an hour and more counts on in minutes: "75:12".
    static QString minutesText(double seconds);
    // The format a file name's extension asks for: .md and .markdown, .srt; else plain text.
    static TranscriptFormat formatOfPath(const QString& path);

private:
    QString title_;
    QDateTime time_;
    QString text_;
    std::optional<QString> subtitles_;
};

} // namespace orvo
