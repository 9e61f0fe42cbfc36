#include "transcription/TranscriptionJob.h"

#include <QPointer>

#include "shell/Console.h"
#include "shell/Logging.h"
#include "store/RealmManager.h"
#include "store/RealmRecordModel.h"
#include "transcription/Recognizer.h"
#include "transcription/SubtitleWriter.h"

namespace orvo {

std::unique_ptr<TranscriptionJob>
TranscriptionJob::create(std::shared_ptr<RealmRecordModel> record) {
    auto recognizer = Recognizer::create(record->filePath());
    if (!recognizer) {
        return nullptr;
    }
    return std::unique_ptr<TranscriptionJob>(
        new TranscriptionJob(std::move(record), std::move(recognizer)));
}

TranscriptionJob::TranscriptionJob(std::shared_ptr<RealmRecordModel> record,
                                   std::shared_ptr<Recognizer> recognizer)
    : record_(std::move(record)), recognizer_(std::move(recognizer)) {}

TranscriptionJob::~TranscriptionJob() {
    cancel();
}

void TranscriptionJob::start() {
    QPointer<TranscriptionJob> self(this);
    recognizer_->complitedRecognizer = [self](std::optional<QString> text,
                                              std::optional<SpeechError> error) {
        Logging::write(QStringLiteral("Recognizer complited with error: ") +
                           (error ? error->message : QString()),
                       EventLoging::error);
        if (self != nullptr) {
            self->complete(text, error.has_value());
        }
    };
    const double duration = record_->duration();
    recognizer_->progressRecognizer = [self, duration](double seconds) {
        const double percent = duration > 0 ? seconds * 100.0 / duration : 0;
        consoleLine(QString::number(percent));
        if (self != nullptr) {
            emit self->progressed(static_cast<int>(percent));
        }
    };
    recognizer_->recognizerText();
}

void TranscriptionJob::cancel() {
    recognizer_->recognizerCancel();
}

void TranscriptionJob::complete(const std::optional<QString>& text, bool failedToRecognise) {
    if (failedToRecognise || !text || record_->isInvalidated() ||
        !RealmManager::updateObjectRecognizerText(record_, *text)) {
        emit failed();
        return;
    }
    storeSubtitles();
    emit finished();
}

void TranscriptionJob::storeSubtitles() const {
    if (recognizer_->finalSegments().empty()) {
        return;
    }
    if (auto failure =
            SubtitleWriter::write(recognizer_->filePath(), recognizer_->finalSegments())) {
        consoleLine(QStringLiteral("Subtitles not written: ") + *failure);
    }
}

} // namespace orvo
