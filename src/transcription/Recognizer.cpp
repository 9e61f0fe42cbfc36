#include "transcription/Recognizer.h"

#include <utility>

#include <QLocale>

#include "platform/Platform.h"
#include "shell/Console.h"
#include "shell/Logging.h"

namespace orvo {

std::shared_ptr<Recognizer> Recognizer::create(const std::optional<QString>& fileUrl) {
    if (!fileUrl) {
        Logging::write(QStringLiteral("Recognizer url file = nil"), EventLoging::error);
        return nullptr;
    }
    const QLocale locale;
    auto* speechRecognizer = Platform::shared().find<SpeechRecognizer>();
    if (speechRecognizer == nullptr || !speechRecognizer->supportsLocale(locale)) {
        Logging::write(QStringLiteral("Recognizer obj not create. Locale: ") + locale.name(),
                       EventLoging::error);
        return nullptr;
    }
    return std::make_shared<Recognizer>(Token{}, *speechRecognizer, locale, *fileUrl);
}

Recognizer::Recognizer(Token, SpeechRecognizer& speechRecognizer, QLocale locale, QString filePath)
    : speechRecognizer_(speechRecognizer), locale_(std::move(locale)),
      filePath_(std::move(filePath)) {}

Recognizer::~Recognizer() {
    consoleLine(QStringLiteral("Recognizer deinit"));
}

void Recognizer::recognizerText() {
    // The handler holds the recognizer until the task has delivered its last call.
    task_ = speechRecognizer_.recognitionTask(
        locale_, filePath_, true,
        [self = shared_from_this()](std::optional<SpeechResult> result,
                                    std::optional<SpeechError> error) {
            self->handleResult(result, error);
        });
}

void Recognizer::recognizerCancel() {
    if (task_) {
        task_->cancel();
    }
}

void Recognizer::handleResult(const std::optional<SpeechResult>& result,
                              const std::optional<SpeechError>& error) {
    if (task_ && task_->isCancelled()) {
        Logging::write(QStringLiteral("Recognizer cancel"), EventLoging::info);
        task_->finish();
        return;
    }
    if (!result) {
        if (complitedRecognizer) {
            complitedRecognizer(std::nullopt, error);
        }
        if (task_) {
            task_->finish();
        }
        return;
    }
    if (!result->segments.empty() && result->segments.back().timestampSeconds != 0 &&
        progressRecognizer) {
        progressRecognizer(result->segments.back().timestampSeconds);
    }
    if (result->isFinal) {
        finalSegments_ = result->segments;
        if (complitedRecognizer) {
            complitedRecognizer(result->formattedString, std::nullopt);
        }
        if (task_) {
            task_->finish();
        }
    }
}

} // namespace orvo
