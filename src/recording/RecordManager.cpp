#include "recording/RecordManager.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>
#include <utility>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include "platform/MainThread.h"
#include "platform/Platform.h"
#include "recording/ApplicationsManager.h"
#include "recording/RecordingSpace.h"
#include "recording/SegmentTracks.h"
#include "shell/API.h"
#include "shell/Console.h"
#include "shell/CopyFiles.h"
#include "shell/FileSync.h"
#include "shell/Formatting.h"
#include "shell/Localization.h"
#include "shell/Logging.h"
#include "shell/SettingsManager.h"
#include "store/RealmManager.h"
#include "store/RealmRecordModel.h"

namespace orvo {

RecordManager::RecordManager(Private, bool isVideo, SessionPreset preset, const QString& stamp)
    : defaultAudioName_(Localization::text(QStringLiteral("DEFAULT_NAME_AUDIO"))),
      defaultVideoName_(Localization::text(QStringLiteral("DEFAULT_NAME_VIDEO"))),
      isVideo_(isVideo), preset_(preset) {
    const QString name = stamp.isEmpty() ? freeStamp(timeName_) : stamp;
    recordName_ =
        Localization::format(isVideo_ ? defaultVideoName_ : defaultAudioName_, {name.left(14)});
    fileName_ = name + (isVideo_ ? API::videoExtension() : API::audioExtension());
}

QString RecordManager::freeStamp(const QDateTime& time) {
    const QString base = convertToTimeStamp(time);
    const auto taken = [](const QString& stamp) {
        for (const QString& folder : {API::audioRecordsPath(), API::videoRecordsPath()}) {
            const QStringList patterns{stamp + ".*", stamp + "_*"};
            if (!QDir(folder).entryList(patterns, QDir::Files).isEmpty())
                return true;
        }
        return false;
    };
    QString stamp = base;
    for (int suffix = 2; taken(stamp); ++suffix)
        stamp = base + "-" + QString::number(suffix);
    return stamp;
}

std::shared_ptr<RecordManager> RecordManager::recovered(const QString& stamp,
                                                        const std::vector<QString>& segments) {
    const bool isVideo = std::any_of(segments.begin(), segments.end(), [](const QString& path) {
        return path.endsWith(API::videoExtension());
    });
    auto manager = std::make_shared<RecordManager>(Private{}, isVideo, SessionPreset::low, stamp);
    manager->urlRecordFiles_ = segments;
    manager->timeName_ = QDateTime::fromString(stamp.left(14), QStringLiteral("yyyyMMddHHmmss"));
    // Read once: the merge finds its tracks in the same reading.
    manager->segmentAssets_ = SegmentTracks::load(segments);
    for (const MediaAsset& asset : manager->segmentAssets_) {
        if (!asset.tracks.empty() && asset.tracks.front().captureStartMicroseconds) {
            const qint64 ms = *asset.tracks.front().captureStartMicroseconds / 1000;
            manager->timeName_ = QDateTime::fromMSecsSinceEpoch(ms);
            break;
        }
    }
    return manager;
}

RecordManager::~RecordManager() {
    // Closing the session finishes the outputs still writing, and they report to this
    // manager: close it while every other field is still alive.
    session_.reset();
}

std::shared_ptr<RecordManager>
RecordManager::create(const std::vector<std::optional<AudioCaptureDevice>>& devices, bool isVideo,
                      SessionPreset preset, std::optional<DisplayID> screenDeviceID,
                      std::optional<QString>* screenRefusal) {
    auto manager = std::make_shared<RecordManager>(Private{}, isVideo, preset, QString());
    if (!manager->buildSession(devices, preset, screenDeviceID, screenRefusal))
        return nullptr;
    return manager;
}

ScreenChoice RecordManager::screenChoice(std::optional<QString>* refusal) {
    ScreenChoice choice;
    // Settings are written on the main thread only; a read sees a whole file.
    const QString token = SettingsManager::shared().getValue(screenCastTokenKey);
    if (!token.isEmpty())
        choice.restoreToken = token;
    choice.keepToken = [](const QString& kept) {
        dispatchToMain(
            [kept] { SettingsManager::shared().writeValueSetting(kept, screenCastTokenKey); });
    };
    choice.refused = [refusal](ScreenRefusal why, const QString& detail) {
        Logging::write("No screen from the desktop: " + detail, EventLoging::error);
        if (refusal == nullptr)
            return;
        switch (why) {
        case ScreenRefusal::noPortal:
            *refusal = Localization::format(Localization::text("SCREEN_PORTAL_MISSING"), {detail});
            break;
        case ScreenRefusal::cancelled:
            *refusal = Localization::text("SCREEN_CHOICE_CANCELLED");
            break;
        case ScreenRefusal::refused:
            *refusal = Localization::format(Localization::text("SCREEN_CHOICE_REFUSED"), {detail});
            break;
        }
    };
    return choice;
}

bool RecordManager::buildSession(const std::vector<std::optional<AudioCaptureDevice>>& devices,
                                 SessionPreset preset, std::optional<DisplayID> screenDeviceID,
                                 std::optional<QString>* screenRefusal) {
    auto* capture = Platform::shared().find<Capture>();
    if (!capture)
        return false;
    // A recording without any source would never report an outcome.
    if (devices.empty() && !isVideo_)
        return false;
    session_ = capture->makeSession();
    if (!session_)
        return false;
    session_->setSessionPreset(preset);
    for (const auto& device : devices) {
        if (!device)
            return false;
        auto output = capture->makeAudioFileOutput();
        // The call's second source is its far side: what the computer plays.
        if (outputFiles_.size() == 1)
            farSideOutput_ = output;
        if (!addPair(capture->makeDeviceInput(device->uniqueID), std::move(output)))
            return false;
    }
    if (isVideo_) {
        if (!screenDeviceID) {
            auto* displays = Platform::shared().find<Displays>();
            screenDeviceID = displays ? displays->mainDisplayID() : std::nullopt;
        }
        if (!screenDeviceID)
            return false;
        if (!addPair(capture->makeScreenInput(*screenDeviceID, screenChoice(screenRefusal)),
                     capture->makeMovieFileOutput()))
            return false;
    }
    return connectPairs();
}

bool RecordManager::addPair(std::shared_ptr<CaptureInput> input,
                            std::shared_ptr<CaptureFileOutput> output) {
    if (!input || !session_->canAddInput(input) || !session_->addInputWithNoConnections(input))
        return false;
    inputDevices_.push_back(std::move(input));
    if (!output || !session_->canAddOutput(output) || !session_->addOutputWithNoConnections(output))
        return false;
    outputFiles_.push_back(std::move(output));
    return true;
}

bool RecordManager::connectPairs() {
    for (std::size_t i = 0; i < inputDevices_.size(); ++i) {
        auto connection = std::make_shared<CaptureConnection>(inputDevices_[i], outputFiles_[i]);
        if (!session_->canAddConnection(connection) || !session_->addConnection(connection))
            return false;
        connections_.push_back(std::move(connection));
    }
    return true;
}

QString RecordManager::segmentPath(std::size_t index) const {
    const bool movie = outputFiles_[index]->mediaType() == CaptureMediaType::video;
    const QString stamp = QFileInfo(fileName_).completeBaseName();
    const QString name = stamp + "_" + QString::number(index);
    return movie ? API::videoRecordsPath() + name + API::videoExtension()
                 : API::audioRecordsPath() + name + API::audioExtension();
}

QString RecordManager::mixSegmentPath() const {
    return API::audioRecordsPath() + QFileInfo(fileName_).completeBaseName() + "_mix" +
           API::audioExtension();
}

QString RecordManager::echoFreeSegmentPath() const {
    return API::audioRecordsPath() + QFileInfo(fileName_).completeBaseName() + "_echofree" +
           API::audioExtension();
}

std::optional<EchoFreeNearSide> RecordManager::echoFreeNearSide() const {
    // Taken out while the sides are still as the capture has them: once coded, the echo carries
    // a coding noise of its own that no canceller predicts. Whether the file keeps it is decided
    // at the merge, by what the user listened through.
    auto* canceller = Platform::shared().find<EchoCanceller>();
    if (canceller == nullptr || !SettingsManager::shared().removesEcho())
        return std::nullopt;
    return EchoFreeNearSide{echoFreeSegmentPath(), *canceller};
}

void RecordManager::openSources() {
    session_->startRunning();
}

bool RecordManager::awaitFarSide(std::chrono::milliseconds timeout) {
    if (!farSideOutput_) {
        return true;
    }
    // The capture port offers no wait for a first buffer; a few short looks at what came cost
    // nothing beside the start they confirm.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!farSideOutput_->takeLoudestDecibels()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            consoleLine("The driver delivered nothing after the switch");
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

void RecordManager::startRecord() {
    openSources();
    // Every path is noted before any output starts: an output that cannot start reports at
    // once, and must not find the list shorter than the recording.
    for (std::size_t i = 0; i < outputFiles_.size(); ++i)
        urlRecordFiles_.push_back(segmentPath(i));
    {
        std::lock_guard lock(activeFilesLock_);
        currentActiveRecordFile_ = urlRecordFiles_;
    }
    // The sides of a call are mixed while they are recorded, so the stop only has to lay the
    // tracks side by side.
    const auto audioOutputs = std::count_if(outputFiles_.begin(), outputFiles_.end(), [](auto& o) {
        return o->mediaType() == CaptureMediaType::audio;
    });
    if (audioOutputs >= 2) {
        const auto echoFree = echoFreeNearSide();
        session_->setAudioMixPath(mixSegmentPath(), echoFree);
        urlRecordFiles_.push_back(mixSegmentPath());
        if (echoFree)
            urlRecordFiles_.push_back(echoFree->path);
    }
    for (std::size_t i = 0; i < outputFiles_.size(); ++i) {
        const auto fileType = outputFiles_[i]->mediaType() == CaptureMediaType::video
                                  ? CaptureFileType::quickTimeMovie
                                  : CaptureFileType::appleM4A;
        outputFiles_[i]->startRecording(urlRecordFiles_[i], fileType, *this);
    }
    recordingTime_.start();
    timerRecord_ = std::make_unique<QTimer>();
    // A coarse timer may fire early, which would show a second twice.
    timerRecord_->setTimerType(Qt::PreciseTimer);
    timerRecord_->setInterval(1000);
    QObject::connect(timerRecord_.get(), &QTimer::timeout, [this] { timerRecordHeader(); });
    timerRecord_->start();
}

void RecordManager::timerRecordHeader() {
    // The nearest whole second of the monotonic clock: a tick lost while the main thread was
    // busy must not put the time behind.
    countSeconds_ = std::round(double(recordingTime_.elapsed()) / 1000.0);
    std::vector<std::optional<QString>> urls(urlRecordFiles_.begin(), urlRecordFiles_.end());
    const double megabytes = sizePerMB(urls);
    if (changeSeconds)
        changeSeconds(countSeconds_, megabytes);
    checkFreeSpace(megabytes);
    checkFarSide();
}

void RecordManager::checkFarSide() {
    if (!farSideOutput_)
        return;
    const bool playing = isPlayingIntoCombinedOutput && isPlayingIntoCombinedOutput();
    if (silentFarSide_.observe(std::chrono::steady_clock::now(),
                               farSideOutput_->takeLoudestDecibels(), playing)) {
        consoleLine("The far side is silent while a program plays into the combined output");
        if (farSideSilent)
            farSideSilent();
    }
}

void RecordManager::checkFreeSpace(double megabytes) {
    if (diskAlmostFullReported_)
        return;
    const auto available = RecordingSpace::availableAt(outputFolder());
    const auto recorded = std::int64_t(megabytes * 1000000.0);
    if (!available || !RecordingSpace::mustStop(*available, recorded, isVideo_, preset_))
        return;
    diskAlmostFullReported_ = true;
    Logging::write("Disk almost full, stopping the recording", EventLoging::error);
    if (diskAlmostFull)
        diskAlmostFull();
}

QString RecordManager::outputFolder() const {
    return isVideo_ ? API::videoRecordsPath() : API::audioRecordsPath();
}

void RecordManager::stopRecord(CompletedStop completedStop) {
    stopOutputs([&] { completedStop_ = std::move(completedStop); });
}

void RecordManager::closeSegments(std::function<void()> closed) {
    stopOutputs([&] { segmentsClosed_ = std::move(closed); });
}

void RecordManager::stopOutputs(const std::function<void()>& keepWhoHearsTheEnd) {
    keepAliveUntilReported_ = shared_from_this();
    timerRecord_.reset();
    bool everyOutputFinished = false;
    {
        std::lock_guard lock(activeFilesLock_);
        keepWhoHearsTheEnd();
        stopRequested_ = true;
        everyOutputFinished = currentActiveRecordFile_.empty();
    }
    for (const auto& output : outputFiles_)
        output->stopRecording();
    // Outputs that failed while recording have reported already; the merge still has to run
    // so that the caller hears the outcome.
    if (everyOutputFinished)
        mergeAfterLastOutput();
}

void RecordManager::finalise(CompletedStop completedStop) {
    keepAliveUntilReported_ = shared_from_this();
    {
        std::lock_guard lock(activeFilesLock_);
        completedStop_ = std::move(completedStop);
        stopRequested_ = true;
    }
    margeRecordFilesAndCompleted();
}

void RecordManager::fileOutputDidFinishRecording(CaptureFileOutput&, const QString& path,
                                                 const std::optional<CaptureError>& error) {
    consoleLine("didFinishRecordingTo " + QUrl::fromLocalFile(path).toString() + " wirh errr " +
                (error ? error->localizedDescription : QString()));
    bool lastOutput = false;
    bool failedWhileRecording = false;
    {
        std::lock_guard lock(activeFilesLock_);
        std::erase(currentActiveRecordFile_, path);
        lastOutput = currentActiveRecordFile_.empty() && stopRequested_;
        failedWhileRecording = error && !stopRequested_ && !captureFailureReported_;
        captureFailureReported_ = captureFailureReported_ || failedWhileRecording;
    }
    if (failedWhileRecording)
        reportCaptureFailure(error->localizedDescription);
    if (lastOutput)
        mergeAfterLastOutput();
}

void RecordManager::reportCaptureFailure(const QString& message) {
    dispatchToMain([weak = weak_from_this(), message] {
        Logging::write("Capture failed: " + message, EventLoging::error);
        const auto self = weak.lock();
        if (self && self->captureFailed)
            self->captureFailed(message);
    });
}

void RecordManager::mergeAfterLastOutput() {
    session_->stopRunning();
    std::function<void()> closed;
    {
        std::lock_guard lock(activeFilesLock_);
        closed = std::exchange(segmentsClosed_, {});
    }
    if (closed) {
        // The program is ending: the segments wait for the next start.
        closed();
        dispatchToMain([self = std::move(keepAliveUntilReported_)] {});
        return;
    }
    margeRecordFilesAndCompleted();
}

void RecordManager::margeRecordFilesAndCompleted() {
    auto& media = Platform::shared().get<Media>();
    MediaComposition composition;
    const auto tracks = segmentAssets_.empty()
                            ? SegmentTracks::read(urlRecordFiles_)
                            : SegmentTracks::of(std::exchange(segmentAssets_, {}));
    OutputKind userOutput = OutputKind::unknown;
    {
        std::lock_guard lock(userOutputLock_);
        userOutput = userOutput_.value_or(OutputKind::unknown);
    }
    // Headphones kept the other side out of the microphone: the side stays as recorded.
    const auto layout = tracks.compose(composition, !isWorn(userOutput));
    composition.setUserOutput(userOutput);
    const bool anyMedia = layout.anyMedia;
    const QString outputPath = outputFolder() + fileName_;
    CopyFiles::checkFilesAndCopy();
    if (anyMedia && !enoughSpaceToMerge()) {
        consoleLine(QStringLiteral("no space"));
        Logging::write("Not enough disk space to merge " + fileName_ + ", the segments are kept",
                       EventLoging::error);
        report(false, ErrorRecord::noSpace);
        return;
    }
    // Without a usable mixed track (one source, the segments of an older recording, or a
    // mix that lost its end) the sides are mixed now, and still kept as tracks of their own.
    const bool copy = isVideo_ || layout.remux;
    const std::size_t sides = composition.tracks(MediaType::audio).size();
    const QString preset = copy        ? exportPresetPassthrough
                           : sides > 1 ? exportPresetMixAndSides
                                       : exportPresetAppleM4A;
    // What the merged file must hold before the segments may go: every track copied, or the
    // mix and the sides; as long as the aligned segments last.
    expectedTracks_ = copy ? composition.tracks().size() : sides > 1 ? 1 + sides : 1;
    expectedSeconds_ = alignedEnd(composition);
    if (!layout.everySegmentRead) {
        consoleLine("A segment of " + fileName_ + " cannot be read: the segments are kept");
        exportCompleted(ExportStatus::failed, outputPath);
        return;
    }
    exportSession_ = anyMedia ? media.makeExportSession(composition, preset) : nullptr;
    if (!exportSession_) {
        // Nothing to export, or no way to export it: the caller must still hear the outcome.
        exportCompleted(ExportStatus::failed, outputPath);
        return;
    }
    exportSession_->setOutputFileType(isVideo_ ? MediaFileType::mpeg4 : MediaFileType::appleM4A);
    setAsideLeftover(outputPath);
    exportSession_->setOutputPath(outputPath);
    exportSession_->exportAsynchronously(
        [this, outputPath] { exportCompleted(exportSession_->status(), outputPath); });
}

void RecordManager::setAsideLeftover(const QString& outputPath) {
    // A new recording's name is free; one taken is what a merge that was killed, or whose
    // record the catalogue refused, left of these segments. Kept, never overwritten.
    if (!QFileInfo(outputPath).isFile())
        return;
    const QFileInfo output(outputPath);
    const QString base = output.path() + "/" + output.completeBaseName() + ".partial";
    QString aside = base + "." + output.suffix();
    for (int suffix = 2; QFileInfo::exists(aside); ++suffix)
        aside = base + "-" + QString::number(suffix) + "." + output.suffix();
    if (QFile::rename(outputPath, aside))
        consoleLine("An unfinished " + fileName_ + " was kept as " + QFileInfo(aside).fileName());
}

bool RecordManager::enoughSpaceToMerge() const {
    const auto available = RecordingSpace::availableAt(outputFolder());
    std::vector<std::optional<QString>> urls(urlRecordFiles_.begin(), urlRecordFiles_.end());
    const auto segmentBytes = std::int64_t(sizePerMB(urls) * 1000000.0);
    return !available || *available >= RecordingSpace::neededToMerge(segmentBytes);
}

void RecordManager::exportCompleted(ExportStatus status, const QString& outputPath) {
    // A completed export is only announced once its file has been read back.
    if (status != ExportStatus::completed)
        Logging::write("marge completed with status" + exportStatusName(status), EventLoging::ok);
    consoleLine(status == ExportStatus::completed
                    ? "completed " + QUrl::fromLocalFile(outputPath).toString()
                    : exportStatusName(status));
    switch (status) {
    case ExportStatus::completed:
        finishCompletedExport(outputPath);
        return;
    case ExportStatus::unknown:
        report(false, ErrorRecord::margeUnknow);
        return;
    case ExportStatus::failed:
        report(false, ErrorRecord::margeFail);
        return;
    case ExportStatus::waiting:
    case ExportStatus::exporting:
    case ExportStatus::cancelled:
        report(false, ErrorRecord::margeCancel);
        return;
    }
    report(false, ErrorRecord::margeUnknow);
}

double RecordManager::alignedEnd(const MediaComposition& composition) {
    const auto tracks = composition.tracks();
    const auto starts = composition.alignedStartSeconds();
    double end = 0.0;
    for (std::size_t t = 0; t < tracks.size() && t < starts.size(); ++t) {
        const auto& segments = tracks[t]->segments();
        for (std::size_t s = 0; s < segments.size() && s < starts[t].size(); ++s)
            end = std::max(end, starts[t][s] + segments[s].sourceRange.durationSeconds);
    }
    return end;
}

std::optional<MediaAsset> RecordManager::provenOnDisk(const QString& outputPath) const {
    if (!FileSync::toDisk(outputPath)) {
        consoleLine("Cannot sync " + outputPath + " to the disk");
        return std::nullopt;
    }
    MediaAsset merged = Platform::shared().get<Media>().loadAsset(outputPath);
    const bool proven = merged.tracks.size() >= expectedTracks_ &&
                        std::abs(merged.durationSeconds - expectedSeconds_) <= provenSlackSeconds;
    if (proven)
        return merged;
    consoleLine(QStringLiteral("%1 holds %2 tracks of %3 s where the segments make %4 of %5 s")
                    .arg(fileName_)
                    .arg(merged.tracks.size())
                    .arg(merged.durationSeconds)
                    .arg(expectedTracks_)
                    .arg(expectedSeconds_));
    return std::nullopt;
}

void RecordManager::finishCompletedExport(const QString& outputPath) {
    // The segments are the only copy of the call until the merged file is on the disk, reads
    // back, holds every track and lasts as long as they do. The record's length is from the
    // same reading.
    const auto merged = provenOnDisk(outputPath);
    if (!merged) {
        Logging::write("marge completed with status" + exportStatusName(ExportStatus::failed),
                       EventLoging::ok);
        report(false, ErrorRecord::margeFail);
        return;
    }
    Logging::write("marge completed with status" + exportStatusName(ExportStatus::completed),
                   EventLoging::ok);
    auto record = recordFor(outputPath, *merged);
    auto self = shared_from_this();
    dispatchToMain([self, record] { self->saveAndCleanUp(record); });
}

void RecordManager::saveAndCleanUp(const std::shared_ptr<RealmRecordModel>& record) {
    if (!RealmManager::saveObject(record)) {
        Logging::write("The catalogue did not take " + fileName_ + ", the segments are kept",
                       EventLoging::error);
        report(false, ErrorRecord::saveFail);
        return;
    }
    for (const QString& url : urlRecordFiles_)
        QFile::remove(url);
    for (const auto& connection : connections_)
        session_->removeConnection(connection);
    urlRecordFiles_.clear();
    inputDevices_.clear();
    outputFiles_.clear();
    report(true, std::nullopt);
}

void RecordManager::report(bool success, std::optional<ErrorRecord> error) {
    CompletedStop completedStop;
    {
        std::lock_guard lock(activeFilesLock_);
        completedStop = completedStop_;
    }
    if (completedStop)
        completedStop(success, error);
    // Released on the main thread: the export that calls this must not destroy itself.
    dispatchToMain([self = std::move(keepAliveUntilReported_)] {});
}

void RecordManager::setCallMessenger(std::optional<QString> messenger) {
    std::lock_guard lock(callMessengerLock_);
    callMessenger_ = std::move(messenger);
}

void RecordManager::noteUserOutput(OutputKind kind) {
    std::lock_guard lock(userOutputLock_);
    if (!userOutput_ || isWorn(*userOutput_))
        userOutput_ = kind;
}

std::shared_ptr<RealmRecordModel> RecordManager::recordFor(const QString& url,
                                                           const MediaAsset& asset) const {
    const double size = sizePerMB({url});
    const auto type = isVideo_ ? RecordType::video : RecordType::audio;
    std::optional<QString> messenger = lastActiveIM();
    if (!messenger) {
        std::lock_guard lock(callMessengerLock_);
        messenger = callMessenger_;
    }
    return std::make_shared<RealmRecordModel>(recordName_, QString(), fileName_, timeName_,
                                              asset.durationSeconds, type, messenger, size);
}

double RecordManager::sizePerMB(const std::vector<std::optional<QString>>& urls) {
    double megabytes = 0.0;
    for (const auto& url : urls) {
        if (!url)
            continue;
        const QFileInfo info(*url);
        if (info.exists())
            megabytes += double(info.size()) / 1000000.0;
    }
    return megabytes;
}

double RecordManager::duration(const QString& recordName, RecordType recordType) {
    const QString path =
        (recordType == RecordType::audio ? API::audioRecordsPath() : API::videoRecordsPath()) +
        recordName;
    auto* media = Platform::shared().find<Media>();
    return media ? media->loadAsset(path).durationSeconds : 0.0;
}

} // namespace orvo
