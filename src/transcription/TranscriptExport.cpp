#include "transcription/TranscriptExport.h"

#include <cmath>

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSaveFile>

#include "store/RealmRecordModel.h"
#include "transcription/SubtitleWriter.h"

namespace orvo {
namespace {

// Subtitles larger than this were not written by a transcription: they are not read.
constexpr qint64 largestSubtitles = 64LL * 1024 * 1024;

std::optional<QString> readSubtitles(const QString& mediaPath) {
    QFile file(SubtitleWriter::subtitlePath(mediaPath));
    if (file.size() > largestSubtitles || !file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return QString::fromUtf8(file.readAll());
}

// "01:02:03,500" → 3723.5.
std::optional<double> secondsOf(const QString& time) {
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d+):(\\d\\d):(\\d\\d)[,.](\\d{3})$"));
    const auto match = pattern.match(time.trimmed());
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    return match.captured(1).toDouble() * 3600 + match.captured(2).toDouble() * 60 +
           match.captured(3).toDouble() + match.captured(4).toDouble() / 1000;
}

// "You: some words" → {"You", "some words"}; a cue without a speaker keeps its words whole.
std::pair<QString, QString> speakerAndWords(const QString& line) {
    const auto colon = line.indexOf(QStringLiteral(": "));
    if (colon <= 0) {
        return {QString(), line.trimmed()};
    }
    return {line.left(colon).trimmed(), line.mid(colon + 2).trimmed()};
}

void addTurn(std::vector<TranscriptExport::Turn>& turns, std::optional<double> start,
             const QString& line) {
    auto [speaker, words] = speakerAndWords(line);
    if (words.isEmpty()) {
        return;
    }
    if (!turns.empty() && turns.back().speaker == speaker) {
        turns.back().words += ' ' + words;
        return;
    }
    turns.push_back({start, speaker, words});
}

} // namespace

TranscriptExport::TranscriptExport(QString title, QDateTime time, QString text,
                                   std::optional<QString> subtitles)
    : title_(std::move(title)), time_(std::move(time)), text_(std::move(text)),
      subtitles_(std::move(subtitles)) {}

TranscriptExport TranscriptExport::of(const RealmRecordModel& record) {
    const auto path = record.filePath();
    return TranscriptExport(record.name(), record.time(), record.recognizeText(),
                            path ? readSubtitles(*path) : std::nullopt);
}

QString TranscriptExport::plainText() const {
    QString text = text_.trimmed();
    return text.isEmpty() ? text : text + '\n';
}

std::vector<TranscriptExport::Turn> TranscriptExport::turns() const {
    std::vector<Turn> turns;
    if (!subtitles_) {
        for (const QString& line : text_.split('\n', Qt::SkipEmptyParts)) {
            addTurn(turns, std::nullopt, line);
        }
        return turns;
    }
    static const QRegularExpression blankLine(QStringLiteral("\\r?\\n\\s*\\r?\\n"));
    for (const QString& cue : subtitles_->split(blankLine, Qt::SkipEmptyParts)) {
        const QStringList lines = cue.trimmed().split('\n');
        // The number, the times, then the text.
        if (lines.size() < 3) {
            continue;
        }
        const auto start = secondsOf(lines[1].section(QStringLiteral("-->"), 0, 0));
        if (!start) {
            continue;
        }
        addTurn(turns, start, lines.mid(2).join(' '));
    }
    return turns;
}

QString TranscriptExport::minutesText(double seconds) {
    const auto whole = static_cast<long long>(std::floor(std::max(0.0, seconds)));
    return QStringLiteral("%1:%2")
        .arg(whole / 60, 2, 10, QChar('0'))
        .arg(whole % 60, 2, 10, QChar('0'));
}

QString TranscriptExport::markdown() const {
    QString text = QStringLiteral("# ") + title_.trimmed() + QStringLiteral("\n\n");
    if (time_.isValid()) {
        text += QLocale().toString(time_, QLocale::LongFormat) + QStringLiteral("\n\n");
    }
    for (const Turn& turn : turns()) {
        if (turn.startSeconds) {
            text += '[' + minutesText(*turn.startSeconds) + QStringLiteral("] ");
        }
        if (!turn.speaker.isEmpty()) {
            text += QStringLiteral("**") + turn.speaker + QStringLiteral(":** ");
        }
        text += turn.words + QStringLiteral("\n\n");
    }
    return text.trimmed() + '\n';
}

std::optional<QString> TranscriptExport::formatted(TranscriptFormat format) const {
    if (isEmpty()) {
        return std::nullopt;
    }
    switch (format) {
    case TranscriptFormat::plainText:
        return plainText();
    case TranscriptFormat::markdown:
        return markdown();
    case TranscriptFormat::subtitles:
        return subtitles_;
    }
    return std::nullopt;
}

std::optional<QString> TranscriptExport::save(TranscriptFormat format, const QString& path) const {
    const auto text = formatted(format);
    if (!text) {
        return format == TranscriptFormat::subtitles
                   ? QStringLiteral("the record has no subtitles")
                   : QStringLiteral("the record has no transcript");
    }
    QSaveFile file(path);
    const QByteArray bytes = text->toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        return file.errorString();
    }
    return std::nullopt;
}

TranscriptFormat TranscriptExport::formatOfPath(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("md") || suffix == QLatin1String("markdown")) {
        return TranscriptFormat::markdown;
    }
    if (suffix == QLatin1String("srt")) {
        return TranscriptFormat::subtitles;
    }
    return TranscriptFormat::plainText;
}

} // namespace orvo
