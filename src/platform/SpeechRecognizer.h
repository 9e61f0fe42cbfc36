#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QLocale>
#include <QString>

#include "platform/Port.h"

namespace orvo {

// One recognised word (or phrase) and where it lies in the audio.
struct SpeechSegment {
    QString substring;
    double timestampSeconds = 0;
    double durationSeconds = 0;
    // Who said it, when the recording keeps the sides of a call apart; empty otherwise.
    QString speaker{};
};

// A partial result holds the words of the stretch of speech being heard (a guess that may
// still change) or just ended, never those of the stretches before it: a long file costs no
// more per stretch than a short one. The final result holds every word of the file.
struct SpeechResult {
    QString formattedString;
    std::vector<SpeechSegment> segments;
    bool isFinal = false;
};

enum class SpeechErrorCode { unknown, cancelled, unreadableFile, engineFailed };

struct SpeechError {
    SpeechErrorCode code = SpeechErrorCode::unknown;
    QString message;
};

// One running transcription of one file.
class SpeechRecognitionTask {
public:
    SpeechRecognitionTask() = default;
    // Any thread; stops the work, waiting for the worker to end.
    virtual ~SpeechRecognitionTask() = default;
    SpeechRecognitionTask(const SpeechRecognitionTask&) = delete;
    SpeechRecognitionTask& operator=(const SpeechRecognitionTask&) = delete;

    // Main thread, never blocks. Stops the work; the handler is still called once more, with
    // no result and a cancelled error, unless finish() came first.
    virtual void cancel() = 0;
    // Main thread, never blocks. No handler call after this one; the handler is released.
    virtual void finish() = 0;
    // Main thread.
    virtual bool isCancelled() const = 0;
};

// Offline speech recognition of media files, one recogniser per language.
class SpeechRecognizer : public Port {
public:
    // Called on the main thread: partial results, then a final result or an error (no result).
    using ResultHandler =
        std::function<void(std::optional<SpeechResult> result, std::optional<SpeechError> error)>;

    // Main thread. Whether a recogniser for the locale's language is installed.
    virtual bool supportsLocale(const QLocale& locale) const = 0;
    // Main thread, never blocks. Starts transcribing the file's audio stream audioStreamIndex
    // (absent: the file's default audio); the first handler call comes in a later turn of the
    // main loop. nullptr when the locale is not supported.
    virtual std::unique_ptr<SpeechRecognitionTask>
    recognitionTask(const QLocale& locale, const QString& filePath,
                    std::optional<int> audioStreamIndex, bool reportPartialResults,
                    ResultHandler handler) = 0;
    // As recognitionTask, for the near side of a call whose far side is the file's stream
    // farStreamIndex: what the microphone picked up of the far side is taken out first. A
    // recogniser without an echo canceller transcribes the near side as it is.
    virtual std::unique_ptr<SpeechRecognitionTask>
    recognitionTaskWithoutEcho(const QLocale& locale, const QString& filePath,
                               std::optional<int> audioStreamIndex, int farStreamIndex,
                               bool reportPartialResults, ResultHandler handler) {
        (void)farStreamIndex;
        return recognitionTask(locale, filePath, audioStreamIndex, reportPartialResults,
                               std::move(handler));
    }
};

} // namespace orvo
