#include "browser/RecognizerSheet.h"

#include <QPointer>
#include <QProgressBar>

#include "browser/RecordTableViewController.h"
#include "shell/Console.h"
#include "shell/Logging.h"
#include "store/RealmManager.h"
#include "store/RealmRecordModel.h"
#include "transcription/Recognizer.h"
#include "transcription/SubtitleWriter.h"
#include "ui/AlertManager.h"

namespace orvo {

RecognizerSheet::~RecognizerSheet() {
    // The window is going: its sheet with it, and a result would have nowhere to go.
    if (recognize_) {
        recognize_->recognizerCancel();
    }
}

void RecognizerSheet::start(RecordTableViewController& table,
                            const std::shared_ptr<RealmRecordModel>& record,
                            std::function<void()> completion) {
    // Left running, the earlier transcription would later write its text into its record.
    if (recognize_) {
        recognize_->recognizerCancel();
    }
    recognize_ = Recognizer::create(record->filePath());
    if (!recognize_) {
        AlertManager::shared().showDefaultAlert(table.window(), table.txtError,
                                                table.txtErrorRecognize,
                                                AlertManager::AlertStyle::critical);
        return;
    }
    QPointer<RecordTableViewController> self(&table);
    const std::weak_ptr<Recognizer> weakRecognizer = recognize_;
    AlertManager::shared().showLoadingAlert(
        table.window(), table.txtRecognize, [self, weakRecognizer] {
            if (self != nullptr) {
                AlertManager::shared().loadingAlertComplited(self->window());
            }
            if (auto recognizer = weakRecognizer.lock()) {
                recognizer->recognizerCancel();
            }
        });
    recognize_->complitedRecognizer = [self, record, weakRecognizer,
                                       completion](std::optional<QString> text,
                                                   std::optional<SpeechError> error) {
        if (self == nullptr) {
            return;
        }
        AlertManager::shared().loadingAlertComplited(self->window());
        Logging::write(QStringLiteral("Recognizer complited with error: ") +
                           (error ? error->message : QString()),
                       EventLoging::error);
        if (error || !text || record->isInvalidated()) {
            AlertManager::shared().showDefaultAlert(self->window(), self->txtError,
                                                    self->txtErrorRecognize,
                                                    AlertManager::AlertStyle::critical);
            return;
        }
        RealmManager::updateObjectRecognizerText(record, *text);
        const auto recognizer = weakRecognizer.lock();
        if (recognizer && !recognizer->finalSegments().empty()) {
            if (auto failure =
                    SubtitleWriter::write(recognizer->filePath(), recognizer->finalSegments())) {
                consoleLine(QStringLiteral("Subtitles not written: ") + *failure);
            }
        }
        if (completion) {
            completion();
        }
    };
    const double duration = record->duration();
    recognize_->progressRecognizer = [duration](double seconds) {
        const double percent = duration > 0 ? seconds * 100.0 / duration : 0;
        consoleLine(QString::number(percent));
        if (auto* bar = AlertManager::shared().progressIndicator.data()) {
            bar->setValue(static_cast<int>(percent));
        }
    };
    recognize_->recognizerText();
}

} // namespace orvo
