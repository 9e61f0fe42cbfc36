#include "recording/RecordImporter.h"

#include <QFileInfo>
#include <QPointer>

#include "platform/MainThread.h"
#include "platform/Platform.h"
#include "recording/RecordManager.h"
#include "shell/API.h"
#include "shell/Console.h"
#include "store/RealmManager.h"
#include "store/RealmRecordModel.h"

namespace orvo {

RecordImporter::RecordImporter(QObject* parent) : QObject(parent) {}

RecordImporter::~RecordImporter() {
    cancel();
    if (worker_.joinable()) {
        worker_.join();
    }
}

void RecordImporter::importFiles(const QStringList& paths) {
    waiting_.insert(waiting_.end(), paths.begin(), paths.end());
    if (!worker_.joinable()) {
        startNext();
    }
}

void RecordImporter::cancel() {
    waiting_.clear();
    cancelled_ = true;
}

void RecordImporter::startNext() {
    if (waiting_.empty()) {
        if (finished) {
            finished();
        }
        return;
    }
    const QString source = waiting_.front();
    waiting_.pop_front();
    cancelled_ = false;
    if (started) {
        started(source);
    }
    QPointer<RecordImporter> self(this);
    worker_ = std::thread([this, self, source] {
        Carried carried = carry(source, cancelled_);
        dispatchToMain([self, carried = std::move(carried)] {
            if (self != nullptr) {
                self->worker_.join();
                self->finish(carried);
                self->startNext();
            }
        });
    });
}

RecordImporter::Carried RecordImporter::carry(const QString& source,
                                              const std::atomic<bool>& cancelled) {
    Carried carried;
    carried.source = source;
    Media& media = Platform::shared().get<Media>();
    const ImportPlan plan = media.planImport(source);
    if (plan.problem != ImportPlan::Problem::none) {
        carried.failure = Failure{source, plan.problem, {}};
        return carried;
    }
    carried.kind = plan.kind;
    const bool video = plan.kind == MediaType::video;
    carried.time = QFileInfo(source).lastModified();
    carried.fileName = RecordManager::freeStamp(carried.time) +
                       (video ? API::videoExtension() : API::audioExtension());
    const QString destination =
        (video ? API::videoRecordsPath() : API::audioRecordsPath()) + carried.fileName;
    if (auto error = media.importFile(source, destination, cancelled)) {
        carried.failure = Failure{source, ImportPlan::Problem::none, *error, cancelled.load()};
        return carried;
    }
    carried.durationSeconds = media.loadAsset(destination).durationSeconds;
    carried.sizeMB = RecordManager::sizePerMB({destination});
    return carried;
}

void RecordImporter::finish(const Carried& carried) {
    if (carried.failure) {
        consoleLine("Import of " + carried.source + " failed: " +
                    (carried.failure->error.isEmpty() ? QStringLiteral("not readable")
                                                      : carried.failure->error));
        if (failed) {
            failed(*carried.failure);
        }
        return;
    }
    auto record = std::make_shared<RealmRecordModel>(
        QFileInfo(carried.source).completeBaseName(), QString(), carried.fileName, carried.time,
        carried.durationSeconds,
        carried.kind == MediaType::video ? RecordType::video : RecordType::audio, std::nullopt,
        carried.sizeMB);
    RealmManager::saveObject(record);
    consoleLine("Imported " + carried.source + " as " + carried.fileName);
    if (imported) {
        imported(record);
    }
}

} // namespace orvo
