#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QString>

#include "platform/SpeechRecognizer.h"

namespace orvo {

// Transcribes one media file in the language of the current locale, once. Main thread only.
// While its task runs the task's handler keeps the recognizer alive, so the caller may drop
// its reference early.
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
    // The segments of the final result, for subtitles; empty before it.
    const std::vector<SpeechSegment>& finalSegments() const { return finalSegments_; }

private:
    struct Token {};

public:
    Recognizer(Token, SpeechRecognizer& speechRecognizer, QLocale locale, QString filePath);

private:
    void handleResult(const std::optional<SpeechResult>& result,
                      const std::optional<SpeechError>& error);

    SpeechRecognizer& speechRecognizer_;
    QLocale locale_;
    QString filePath_;
    std::unique_ptr<SpeechRecognitionTask> task_;
    std::vector<SpeechSegment> finalSegments_;
};

} // namespace orvo
