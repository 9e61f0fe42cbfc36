#include "browser/RecognizerSheet.h"

#include <QObject>
#include <QPointer>
#include <QProgressBar>

#include "browser/RecordTableViewController.h"
#include "transcription/TranscriptionJob.h"
#include "ui/AlertManager.h"

namespace orvo {

RecognizerSheet::RecognizerSheet() = default;
RecognizerSheet::~RecognizerSheet() = default;

void RecognizerSheet::start(RecordTableViewController& table,
                            const std::shared_ptr<RealmRecordModel>& record,
                            std::function<void()> completion) {
    // Left running, the earlier transcription would later write its text into its record.
    job_.reset();
    job_ = TranscriptionJob::create(record);
    if (!job_) {
        AlertManager::shared().showDefaultAlert(table.window(), table.txtError,
                                                table.txtErrorRecognize,
                                                AlertManager::AlertStyle::critical);
        return;
    }
    QPointer<RecordTableViewController> self(&table);
    QPointer<TranscriptionJob> job(job_.get());
    AlertManager::shared().showLoadingAlert(table.window(), table.txtRecognize, [self, job] {
        if (self != nullptr) {
            AlertManager::shared().loadingAlertComplited(self->window());
        }
        if (job != nullptr) {
            job->cancel();
        }
    });
    QObject::connect(job_.get(), &TranscriptionJob::progressed, &table, [](int percent) {
        if (auto* bar = AlertManager::shared().progressIndicator.data()) {
            bar->setValue(percent);
        }
    });
    QObject::connect(job_.get(), &TranscriptionJob::finished, &table, [self, completion] {
        AlertManager::shared().loadingAlertComplited(self->window());
        if (completion) {
            completion();
        }
    });
    QObject::connect(job_.get(), &TranscriptionJob::failed, &table, [self] {
        AlertManager::shared().loadingAlertComplited(self->window());
        AlertManager::shared().showDefaultAlert(self->window(), self->txtError,
                                                self->txtErrorRecognize,
                                                AlertManager::AlertStyle::critical);
    });
    job_->start();
}

} // namespace orvo
