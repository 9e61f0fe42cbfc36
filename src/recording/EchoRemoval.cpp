#include "recording/EchoRemoval.h"

#include <filesystem>
#include <system_error>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "platform/EchoCanceller.h"
#include "platform/MainThread.h"
#include "platform/Media.h"
#include "platform/OutputKind.h"
#include "platform/Platform.h"
#include "shell/API.h"
#include "shell/Console.h"
#include "shell/SettingsManager.h"
#include "store/Realm.h"
#include "store/Results.h"

namespace orvo {
namespace {

const QString partSuffix = QStringLiteral(".echo-free");

QString pathOf(const QString& fileName) {
    return (fileName.endsWith(API::videoExtension()) ? API::videoRecordsPath()
                                                     : API::audioRecordsPath()) +
           fileName;
}

bool isCatalogued(const QString& fileName) {
    return realm().objects().filter("fileName == %@", {fileName}).size() > 0;
}

} // namespace

EchoRemoval::EchoRemoval() {
    removeLeftovers();
}

EchoRemoval::~EchoRemoval() {
    cancelled_ = true;
    if (worker_.joinable()) {
        worker_.join();
    }
}

QString EchoRemoval::partPathOf(const QString& path) {
    const QFileInfo file(path);
    return file.path() + "/." + file.fileName() + partSuffix;
}

void EchoRemoval::removeLeftovers() {
    // What a program that ended mid-way left; its recording kept the track as recorded.
    for (const QString& folder : {API::audioRecordsPath(), API::videoRecordsPath()}) {
        const QDir dir(folder);
        for (const QString& name :
             dir.entryList({"." + QStringLiteral("*") + partSuffix}, QDir::Files | QDir::Hidden)) {
            QFile::remove(dir.filePath(name));
        }
    }
}

void EchoRemoval::add(const QString& fileName) {
    pending_.push_back(fileName);
    if (!running_) {
        startNext();
    }
}

std::optional<EchoRemoval::Job> EchoRemoval::jobFor(const QString& fileName) {
    auto* media = Platform::shared().find<Media>();
    if (media == nullptr || Platform::shared().find<EchoCanceller>() == nullptr ||
        !SettingsManager::shared().removesEcho()) {
        return std::nullopt;
    }
    Job job;
    job.fileName = fileName;
    job.path = pathOf(fileName);
    const MediaAsset asset = media->loadAsset(job.path);
    const auto near = asset.audioTrackTitled(QStringLiteral("You"));
    const auto far = asset.audioTrackTitled(QStringLiteral("Them"));
    // Headphones keep the other side out of the microphone: nothing to take out.
    if (!near || !far || isWorn(asset.userOutput) || asset.nearSideEchoRemoved) {
        return std::nullopt;
    }
    const QFileInfo file(job.path);
    job.nearStream = near->streamIndex;
    job.farStream = far->streamIndex;
    job.size = file.size();
    job.modified = file.lastModified();
    return job;
}

void EchoRemoval::startNext() {
    if (worker_.joinable()) {
        worker_.join();
    }
    running_ = false;
    while (!pending_.empty() && !running_) {
        const QString fileName = pending_.front();
        pending_.pop_front();
        const std::optional<Job> job = jobFor(fileName);
        if (!job) {
            if (finished) {
                finished(fileName, false);
            }
            continue;
        }
        running_ = true;
        std::weak_ptr<bool> alive = alive_;
        worker_ = std::thread([this, alive, job = *job] {
            const EchoFreeCopy copy = Platform::shared().get<Media>().writeWithoutEcho(
                job.path, partPathOf(job.path), job.nearStream, job.farStream,
                Platform::shared().get<EchoCanceller>(), cancelled_);
            dispatchToMain([this, alive, job, copy] {
                if (!alive.expired()) {
                    jobDone(job, copy);
                }
            });
        });
    }
}

bool EchoRemoval::stillAsItWas(const Job& job) const {
    const QFileInfo file(job.path);
    return file.exists() && file.size() == job.size && file.lastModified() == job.modified &&
           isCatalogued(job.fileName);
}

void EchoRemoval::jobDone(const Job& job, const EchoFreeCopy& copy) {
    const QString part = partPathOf(job.path);
    bool replaced = false;
    if (copy.error) {
        consoleLine(QStringLiteral("The echo stays in %1: %2").arg(job.fileName, *copy.error));
    }
    // A record deleted, or a file changed meanwhile, keeps what it has now.
    if (!copy.error && !copy.delaysMs.empty() && stillAsItWas(job)) {
        std::error_code error;
        std::filesystem::rename(part.toStdString(), job.path.toStdString(), error);
        replaced = !error;
    }
    QFile::remove(part);
    if (finished) {
        finished(job.fileName, replaced);
    }
    startNext();
}

} // namespace orvo
