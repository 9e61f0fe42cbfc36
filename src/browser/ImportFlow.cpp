#include "browser/ImportFlow.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>
#include <QUrl>

#include "browser/RecordTableViewController.h"
#include "shell/Localization.h"
#include "store/RealmRecordModel.h"
#include "ui/AlertDialog.h"
#include "ui/AlertManager.h"

namespace orvo {
namespace {

// What the dialog shows first; anything else can still be chosen under "All files".
constexpr const char* commonExtensions =
    "*.mp3 *.m4a *.mp4 *.mov *.wav *.ogg *.oga *.opus *.flac *.aac *.webm *.mkv *.avi *.wma "
    "*.wmv *.amr *.3gp *.caf *.aiff *.aif";

QString formatted(const char* key, const QVariantList& arguments) {
    return Localization::format(Localization::text(QString::fromLatin1(key)), arguments);
}

QString refusal(const RecordImporter::Failure& failure) {
    const QString name = QFileInfo(failure.path).fileName();
    switch (failure.problem) {
    case ImportPlan::Problem::unreadable:
        return formatted("IMPORT_UNREADABLE", {name});
    case ImportPlan::Problem::noSound:
        return formatted("IMPORT_NO_SOUND", {name});
    case ImportPlan::Problem::none:
        break;
    }
    return formatted("IMPORT_NOT_WRITTEN", {name, failure.error});
}

} // namespace

ImportFlow::ImportFlow(QWidget& window, std::function<RecordTableViewController*()> table)
    : QObject(&window), window_(window), table_(std::move(table)), importer_(this) {
    importer_.started = [this](const QString& path) { showProgress(path); };
    importer_.imported = [this](std::shared_ptr<RealmRecordModel> record) {
        imported_.push_back(std::move(record));
    };
    importer_.failed = [this](const RecordImporter::Failure& failure) {
        if (!failure.cancelled) {
            refusals_ << refusal(failure);
        }
    };
    importer_.finished = [this] { finishBatch(); };
}

QFileDialog* ImportFlow::chooseFiles() {
    auto* dialog = new QFileDialog(&window_, Localization::text("IMPORT_DIALOG_TITLE"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Qt's own dialog: the same on every desktop, and reachable by tests.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setNameFilters({formatted("IMPORT_DIALOG_MEDIA", {commonExtensions}),
                            Localization::text("IMPORT_DIALOG_ALL") + " (*)"});
    connect(dialog, &QFileDialog::filesSelected, this, &ImportFlow::importFiles);
    dialog->open();
    return dialog;
}

void ImportFlow::importFiles(const QStringList& paths) {
    if (!paths.isEmpty()) {
        batchSize_ += paths.size();
        importer_.importFiles(paths);
    }
}

// One sheet for the whole batch: a sheet replaced by another counts as cancelled.
void ImportFlow::showProgress(const QString& path) {
    AlertManager& alerts = AlertManager::shared();
    const QString title = formatted("IMPORTING", {QFileInfo(path).fileName()});
    if (sheet_ == nullptr) {
        QPointer<ImportFlow> self(this);
        alerts.showLoadingAlert(&window_, title, [self] {
            if (self != nullptr) {
                self->importer_.cancel();
            }
        });
        sheet_ = alerts.loadingAlert;
    } else {
        sheet_->setMessageText(title);
    }
    if (alerts.progressIndicator != nullptr && batchSize_ > 0) {
        alerts.progressIndicator->setValue(alerts.progressIndicator->maximum() * batchDone_ /
                                           batchSize_);
    }
    ++batchDone_;
}

QStringList ImportFlow::localFiles(const QList<QUrl>& urls) {
    QStringList paths;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile() || !QFileInfo(url.toLocalFile()).isFile()) {
            return {};
        }
        paths << url.toLocalFile();
    }
    return paths;
}

void ImportFlow::finishBatch() {
    AlertManager::shared().loadingAlertComplited(&window_);
    sheet_ = nullptr;
    batchSize_ = 0;
    batchDone_ = 0;
    if (refusals_.isEmpty()) {
        offerTranscription();
        return;
    }
    const QString text = refusals_.join("\n");
    refusals_.clear();
    QPointer<ImportFlow> self(this);
    AlertManager::shared().showDefaultAlert(&window_, Localization::text("IMPORT_FAILED_TITLE"),
                                            text, AlertManager::AlertStyle::warning,
                                            QStringLiteral("OK"), false, QString(), [self](bool) {
                                                if (self != nullptr) {
                                                    self->offerTranscription();
                                                }
                                            });
}

void ImportFlow::offerTranscription() {
    if (imported_.empty()) {
        return;
    }
    const bool one = imported_.size() == 1;
    const QString title =
        one ? formatted("IMPORT_DONE_TITLE", {imported_.front()->name()})
            : formatted("IMPORT_DONE_MANY_TITLE", {QString::number(imported_.size())});
    QPointer<ImportFlow> self(this);
    AlertManager::shared().showDefaultAlert(
        &window_, title, Localization::text(one ? "IMPORT_OFFER_ONE" : "IMPORT_OFFER_MANY"),
        AlertManager::AlertStyle::informational, Localization::text("IMPORT_TRANSCRIBE"), true,
        Localization::text("IMPORT_NOT_NOW"), [self](bool confirmed) {
            if (self == nullptr) {
                return;
            }
            if (confirmed) {
                self->transcribeFrom(0);
            } else {
                self->imported_.clear();
            }
        });
}

// One after another: a transcription started while one runs would cancel it.
void ImportFlow::transcribeFrom(std::size_t index) {
    RecordTableViewController* table = table_();
    if (index >= imported_.size() || table == nullptr) {
        imported_.clear();
        return;
    }
    QPointer<ImportFlow> self(this);
    table->transcribe(imported_[index], [self, index] {
        if (self != nullptr) {
            self->transcribeFrom(index + 1);
        }
    });
}

} // namespace orvo
