#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QString>

#include "platform/OutputKind.h"
#include "platform/SpeechRecognizer.h"

namespace orvo {

// Transcribes one media file in the language of the current locale, once. Main thread only.
// A file that keeps the sides of a call apart (audio tracks titled "You" and "Them") is
// transcribed side by side, all sides at once, into lines that say who spoke; "You" without
// the other side's echo, unless the file says the call was heard on headphones or a headset.
// While its tasks run their handlers keep the recognizer alive, so the caller may drop its
// reference early.
class Recognizer : public std::enable_shared_from_this<Recognizer> {
public:
    using CompletedHandler =
        std::function<void(std::optional<QString> text, std::optional<SpeechError> error)>;
    using ProgressHandler = std::function<void(double seconds)>;

    // No recognizer (and an error log entry) without a file or without a recogniser for the
    // current locale.
    static std::shared_ptr<Recognizer> create(const std::optional<QString>& fileUrl);
    ~Recognizer();
    Recognizer(const Recognizer&) = delete;
    Recognizer& operator=(const Recognizer&) = delete;

    CompletedHandler complitedRecognizer;
    ProgressHandler progressRecognizer;

    void recognizerText();
    void recognizerCancel();

    const QString& filePath() const { return filePath_; }
    // The segments of the final result in time order, with their speakers, for subtitles;
    // empty before it.
    const std::vector<SpeechSegment>& finalSegments() const { return finalSegments_; }

private:
    struct Token {};

public:
    Recognizer(Token, SpeechRecognizer& speechRecognizer, QLocale locale, QString filePath);

private:
    // One transcribed audio track: the whole file's, or one side's.
    struct Side {
        QString speaker; // empty for the whole file
        std::optional<int> streamIndex;
        bool near = false; // the user's microphone
        std::unique_ptr<SpeechRecognitionTask> task;
        double positionSeconds = 0;
        std::optional<SpeechResult> finalResult;
    };

    void findSides();
    void handleResult(std::size_t side, const std::optional<SpeechResult>& result,
                      const std::optional<SpeechError>& error);
    // No handler call after this one.
    void finishAll();
    void completeSides();

    SpeechRecognizer& speechRecognizer_;
    QLocale locale_;
    QString filePath_;
    double durationSeconds_ = 0;
    OutputKind userOutput_ = OutputKind::unknown;
    bool echoRemoved_ = false; // the file's near side lost the echo when it was saved
    std::vector<Side> sides_;
    bool ended_ = false;
    std::vector<SpeechSegment> finalSegments_;
};

} // namespace orvo
