#include "control/RecordingController.h"

#include <chrono>
#include <utility>

#include <QPointer>

#include "audio/AudioManager.h"
#include "platform/MainThread.h"
#include "platform/Platform.h"
#include "platform/Workspace.h"
#include "recording/PrivacyManager.h"
#include "recording/RecordManager.h"
#include "recording/RecordingSpace.h"
#include "recording/VideoManager.h"
#include "shell/API.h"
#include "shell/Console.h"
#include "shell/CopyFiles.h"
#include "shell/Formatting.h"
#include "shell/Localization.h"
#include "shell/Logging.h"
#include "shell/SettingsManager.h"

namespace orvo {
namespace {

// How long the driver may take to deliver its first data after the switch.
constexpr std::chrono::milliseconds farSideWait{1500};
// How long streams that follow the default output are given to arrive in the route.
constexpr int followersMs = 300;

} // namespace

RecordingController::RecordingController(PrivacyManager* privacy, QObject* parent)
    : QObject(parent), txtStartAudioRecord(Localization::text("START_AUDIO_RECORD")),
      txtStopAudioRecord(Localization::text("STOP_AUDIO_RECORD")),
      txtStartVideoRecord(Localization::text("START_VIDEO_RECORD")),
      txtStopVideoRecord(Localization::text("STOP_VIDEO_RECORD")),
      txtError(Localization::text("ERROR")),
      txtErrorStartAudioRecordMsg(Localization::text("ERROR_START_AUDIO")),
      txtErrorStartVideoRecordMsg(Localization::text("ERROR_START_VIDEO")),
      txtPrivacyMicTitle(Localization::text("PRIVACY_MIC_TITLE")),
      txtPrivacyMicMsg(Localization::text("PRIVACY_MIC_MSG")),
      txtPrivacyVidTitle(Localization::text("PRIVACY_VID_TITLE")),
      txtPrivacyVidMsg(Localization::text("PRIVACY_VID_MSG")),
      txtErrorStopAudioRecordMsg(Localization::text("ERROR_STOP_AUDIO")),
      txtErrorStopVideoRecordMsg(Localization::text("ERROR_STOP_VIDEO")),
      txtTime(Localization::text("TIME")), txtSize(Localization::text("SIZE")),
      txtMb(Localization::text("MEGABYTE")), txtSaving(Localization::text("SAVING_RECORDING")),
      txtDiskSpaceStart(Localization::text("ERROR_DISK_SPACE_START")),
      txtDiskSpaceStop(Localization::text("ERROR_DISK_SPACE_STOP")),
      txtFarSideSilentTitle(Localization::text("FAR_SIDE_SILENT_TITLE")),
      txtFarSideSilentMsg(Localization::text("FAR_SIDE_SILENT_MSG")),
      privacy_(privacy != nullptr ? *privacy : PrivacyManager::shared()) {
    QPointer<RecordingController> controller(this);
    deviceChanges_ = AudioManager::observeDeviceChanges([controller] {
        dispatchToMain([controller] {
            if (controller != nullptr) {
                controller->devicesChanged();
            }
        });
    });
    updateTargets();
}

RecordingController::~RecordingController() = default;

bool RecordingController::isAllowed(Phase from, Phase to) {
    switch (from) {
    case Phase::idle:
        return to == Phase::starting;
    case Phase::starting:
        return to == Phase::recording || to == Phase::failed;
    case Phase::recording:
        // idle: closed for a process that must end now, or nothing was there to stop.
        return to == Phase::stopping || to == Phase::idle;
    case Phase::stopping:
        return to == Phase::finalising;
    case Phase::finalising:
        return to == Phase::idle;
    case Phase::failed:
        // starting: chosen again while the output is still on its way back.
        return to == Phase::idle || to == Phase::starting;
    }
    return false;
}

void RecordingController::enterPhase(Phase next) {
    const Phase from = std::exchange(phase_, next);
    if (!isAllowed(from, next)) {
        consoleLine(QString("The recording control went from phase %1 to %2, which it must not")
                        .arg(int(from))
                        .arg(int(next)));
    }
    emit phaseChanged(from, next);
    showPhase();
}

void RecordingController::fail(RecordingFailure::Kind kind, const QString& title,
                               const QString& message, RecordingFailure::Severity severity) {
    emit failed(RecordingFailure{kind, title, message, severity});
}

void RecordingController::updateTargets() {
    targets_.clear();
    const auto devices = AudioManager::inputAudioDevices();
    for (const AudioCaptureDevice& device : devices) {
        if (!AudioManager::isDriverInput(device)) {
            targets_.push_back({device, RecordType::audio, device.localizedName});
        }
    }
    // A screen recording always records sound too: without any input there is nothing to do.
    if (!AudioManager::inputAudioDevices().empty()) {
        for (const QString& screen : VideoManager::screenNameDevices()) {
            targets_.push_back({std::nullopt, RecordType::video, screen});
        }
    }
    // The new list shows idle targets whatever runs; a stop that has not completed keeps them
    // disabled, so that no new start can replace the device the output has to return to.
    states_.clear();
    for (const RecordingTarget& target : targets_) {
        states_.push_back({targetTitle(target, false), !isStopping() && !isStarting()});
    }
    selectedIndex_.reset();
    volumeEnabled_ = false;
    emit targetsChanged();
}

QString RecordingController::targetTitle(const RecordingTarget& target, bool recording) const {
    const bool audio = target.recordType == RecordType::audio;
    const QString& format = recording ? (audio ? txtStopAudioRecord : txtStopVideoRecord)
                                      : (audio ? txtStartAudioRecord : txtStartVideoRecord);
    return Localization::format(format, {target.nameDevice});
}

QString RecordingController::titleForTarget(int index) const {
    return index >= 0 && index < int(states_.size()) ? states_[index].title : QString();
}

bool RecordingController::isTargetEnabled(int index) const {
    return index >= 0 && index < int(states_.size()) && states_[index].enabled;
}

QString RecordingController::titleText(std::optional<double> seconds,
                                       std::optional<double> megabytes) const {
    if (!seconds || !megabytes) {
        return QString();
    }
    // The labels are part of the pattern, as the translations expect.
    const QString pattern =
        "ORVO: " + txtTime + " " + convertSecondstToMin(*seconds) + " " + txtSize + " %.02f %@";
    return Localization::format(pattern, {*megabytes, txtMb});
}

void RecordingController::setProgress(std::optional<double> seconds,
                                      std::optional<double> megabytes) {
    seconds_ = seconds;
    megabytes_ = megabytes;
    if (!seconds) {
        warning_.clear();
    }
    emit progressChanged(seconds, megabytes);
}

void RecordingController::toggleTarget(int index) {
    if (isStarting() || isStopping()) {
        // The previous recording is still being finished; its targets are disabled.
        return;
    }
    const bool known = index >= 0 && index < int(targets_.size());
    selectedIndex_ = known ? std::optional<int>(index) : std::nullopt;
    selected_ = known ? std::optional<RecordingTarget>(targets_[index]) : std::nullopt;
    if (isRecord()) {
        stopRecord();
    } else {
        startRecord();
    }
}

void RecordingController::stopAndFinalise(std::function<void()> whenFinalised, bool showProgress) {
    if (showProgress && (isRecord() || isStopping() || isStarting())) {
        emit savingChanged(true);
        whenFinalised = [controller = QPointer<RecordingController>(this),
                         next = std::move(whenFinalised)] {
            if (controller != nullptr) {
                emit controller->savingChanged(false);
            }
            next();
        };
    }
    if (deferWhileStarting(
            [this, whenFinalised]() mutable { stopAndFinalise(std::move(whenFinalised)); })) {
        return;
    }
    if (isRecord()) {
        whenFinalised_.push_back(std::move(whenFinalised));
        stopRecord();
    } else if (isStopping()) {
        whenFinalised_.push_back(std::move(whenFinalised));
    } else if (deviceWork_.isBusy()) {
        // The output of a failed start may still be on its way back.
        deviceWork_.run([] {}, std::move(whenFinalised));
    } else {
        whenFinalised();
    }
}

bool RecordingController::deferWhileStarting(std::function<void()> action) {
    if (!isStarting()) {
        return false;
    }
    afterStart_.push_back(std::move(action));
    return true;
}

void RecordingController::closeForExit(std::function<void()> whenClosed) {
    if (deferWhileStarting([this, whenClosed] { closeForExit(whenClosed); })) {
        return;
    }
    deviceWork_.release([] {});
    // Idle, or a merge under way: that needs no capture any more, only the output goes back;
    // the segments stay until the catalogue has the record.
    if (!isRecord() || !recordManager_) {
        deviceWork_.restoreOutput(std::move(whenClosed));
        return;
    }
    enterPhase(Phase::idle);
    // The output goes back while the segments close: the process has little time left.
    auto remaining = std::make_shared<int>(2);
    auto oneDone = [remaining, whenClosed = std::move(whenClosed)] {
        if (--*remaining == 0) {
            whenClosed();
        }
    };
    deviceWork_.restoreOutput(oneDone);
    recordManager_->closeSegments([oneDone] { dispatchToMain(oneDone); });
}

void RecordingController::stopRecord() {
    // Until the engine has reported, every target stays disabled: a new start would replace
    // the device that the output has to return to.
    enterPhase(recordManager_ ? Phase::stopping : Phase::idle);
    setProgress(std::nullopt, std::nullopt);
    if (!recordManager_) {
        deviceWork_.restoreOutput([this] { runWhenFinalised(); });
        return;
    }
    QPointer<RecordingController> controller(this);
    recordManager_->stopRecord([controller](bool, std::optional<ErrorRecord> error) {
        dispatchToMain([controller, error] {
            if (controller != nullptr) {
                controller->completedStop(error);
            }
        });
    });
}

void RecordingController::completedStop(std::optional<ErrorRecord> error) {
    // The targets stay disabled until the output is back.
    enterPhase(Phase::finalising);
    deviceWork_.restoreOutput([this, error] { finishStop(error); });
}

void RecordingController::finishStop(std::optional<ErrorRecord> error) {
    enterPhase(Phase::idle);
    if (!error) {
        const QString saved = recordManager_ ? recordManager_->fileName() : QString();
        recordManager_.reset();
        Logging::write("Stop record success", EventLoging::ok);
        if (!saved.isEmpty()) {
            emit recordSaved(saved);
        }
    } else {
        Logging::write("Stop record with error: " + caseName(*error), EventLoging::error);
        fail(
            RecordingFailure::Kind::stopFailed, txtError,
            Localization::format(isVideo_ ? txtErrorStopVideoRecordMsg : txtErrorStopAudioRecordMsg,
                                 {rawValue(*error)}));
    }
    runWhenFinalised();
}

void RecordingController::captureFailed(const QString& message) {
    if (!isRecord()) {
        return;
    }
    QPointer<RecordingController> controller(this);
    stopAndFinalise([controller, message] {
        if (controller != nullptr) {
            controller->fail(RecordingFailure::Kind::captureLost, controller->txtError, message);
        }
    });
}

void RecordingController::devicesChanged() {
    // Events come in bursts; one look at the devices answers those before it, and one more
    // look those that came while it ran. A start or a stop under way makes its own.
    if (isStarting() || isStopping() || (!isRecord() && deviceWork_.isReleased())) {
        return;
    }
    if (followPending_) {
        followAgain_ = true;
        return;
    }
    followPending_ = true;
    followAgain_ = false;
    deviceWork_.follow(isRecord(), [this](int unrouted, std::optional<OutputKind> userOutput) {
        followPending_ = false;
        // Headphones taken off mid-call leave the other side's echo in what follows; a stop
        // under way still takes it, unless its merge began.
        if (userOutput && recordManager_) {
            recordManager_->noteUserOutput(*userOutput);
        }
        // A program plays where the recording cannot hear it: the far side is lost now.
        if (unrouted > 0 && isRecord()) {
            warnFarSideSilent();
        }
        if (followAgain_) {
            devicesChanged();
        }
    });
}

void RecordingController::runWhenFinalised() {
    // Last of all: a caller may end the program from here.
    for (const auto& callback : std::exchange(whenFinalised_, {})) {
        callback();
    }
}

void RecordingController::releaseDevices(std::function<void()> then) {
    deviceWork_.release(std::move(then));
}

void RecordingController::keepDevicesReady() {
    // Also during a recording: what is ready then (its own combined output) stays as it is.
    deviceWork_.keepReady();
}

bool RecordingController::checkPermissions() {
    // The answer may come on any thread; the user chooses the target again once allowed.
    if (!privacy_.checkMicrophonePrivacy()) {
        QPointer<RecordingController> controller(this);
        privacy_.requestMicrophonePrivacy([controller](bool granted) {
            dispatchToMain([controller, granted] {
                if (controller == nullptr || granted) {
                    return;
                }
                Logging::write("No privacy microphone", EventLoging::ok);
                controller->fail(RecordingFailure::Kind::microphonePrivacy,
                                 controller->txtPrivacyMicTitle, controller->txtPrivacyMicMsg,
                                 RecordingFailure::Severity::informational);
            });
        });
        return false;
    }
    if (isVideo_ && !privacy_.checkScreenCapture()) {
        privacy_.requestScreenCapture();
        Logging::write("No privacy screencapture", EventLoging::ok);
        fail(RecordingFailure::Kind::screenPrivacy, txtPrivacyVidTitle, txtPrivacyVidMsg,
             RecordingFailure::Severity::informational);
        return false;
    }
    return true;
}

std::optional<AudioCaptureDevice> RecordingController::chooseMicrophone() const {
    if (!isVideo_) {
        return selected_ ? selected_->device : std::nullopt;
    }
    return microphoneForScreen(targets_,
                               SettingsManager::shared().getValue("DefaultAudioDeviceForVideo"));
}

void RecordingController::startRecord() {
    isVideo_ = selected_ && selected_->recordType == RecordType::video;
    if (!checkPermissions()) {
        return;
    }
    // The records folders may have been removed while the program ran.
    CopyFiles::checkFilesAndCopy();
    if (!checkDiskSpace()) {
        return;
    }
    const QString quality = SettingsManager::shared().getValue(isVideo_ ? "QVideo" : "QAudio");
    auto job = std::make_shared<StartJob>();
    job->devices = {chooseMicrophone(), AudioManager::driverCaptureDevice()};
    job->isVideo = isVideo_;
    job->preset = convertQuality(quality);
    // An absent screen falls back to the main display inside the engine.
    job->screen = VideoManager::screenDeviceID(screenPosition(targets_, selectedIndex_));
    enterPhase(Phase::starting);
    deviceWork_.run([job, route = deviceWork_.route()] { prepareDevices(*job, *route); },
                    [this, job] { startPrepared(*job); });
}

void RecordingController::prepareDevices(StartJob& job, AudioRoute& route) {
    job.engine =
        RecordManager::create(job.devices, job.isVideo, job.preset, job.screen, &job.screenRefusal);
    if (!job.engine) {
        return;
    }
    // Read before the output moves: an idle driver holds back the first sound that reaches it
    // for a good part of a second, one that already has a reader passes it on at once.
    job.engine->openSources();
    job.status = AudioManager::createAggregateDeviceWithDefaultDevice(route);
    if (job.status == std::optional(noErr)) {
        // The output goes through the aggregate, so the driver hears what the user hears; a
        // start counts only once the server says so and the driver delivers.
        job.status = AudioManager::switchToAggregate(route);
    }
    if (job.status == std::optional(noErr) && !job.engine->awaitFarSide(farSideWait)) {
        job.status = audioStatusNotRunning;
    }
    if (job.status != std::optional(noErr)) {
        job.engine.reset();
        return;
    }
    job.unrouted = AudioManager::routeStreams(route, followersMs);
    job.engine->noteUserOutput(AudioManager::userOutputKind(route));
    job.previousOutput = route.userOutputDevice();
    job.previousVolume = AudioManager::getVolumeDevice(job.previousOutput);
}

void RecordingController::startPrepared(const StartJob& job) {
    if (job.engine) {
        beginRecording(job.engine, job.previousOutput, job.previousVolume);
        if (job.unrouted > 0) {
            warnFarSideSilent();
        }
    } else {
        failStart(job.status, job.screenRefusal);
    }
    for (const auto& action : std::exchange(afterStart_, {})) {
        action();
    }
}

bool RecordingController::checkDiskSpace() {
    const QString quality = SettingsManager::shared().getValue(isVideo_ ? "QVideo" : "QAudio");
    const QString folder = isVideo_ ? API::videoRecordsPath() : API::audioRecordsPath();
    const auto available = RecordingSpace::availableAt(folder);
    const auto needed = RecordingSpace::neededToStart(isVideo_, convertQuality(quality));
    if (!available || *available >= needed) {
        return true;
    }
    Logging::write("Not enough disk space to record", EventLoging::error);
    fail(RecordingFailure::Kind::diskSpaceAtStart, txtError,
         Localization::format(txtDiskSpaceStart,
                              {double(needed) / 1000000.0, double(*available) / 1000000.0}));
    return false;
}

void RecordingController::stopForFullDisk() {
    if (!isRecord()) {
        return;
    }
    QPointer<RecordingController> controller(this);
    stopAndFinalise([controller] {
        if (controller != nullptr) {
            controller->fail(RecordingFailure::Kind::diskAlmostFull, controller->txtError,
                             controller->txtDiskSpaceStop, RecordingFailure::Severity::warning);
        }
    });
}

void RecordingController::beginRecording(std::shared_ptr<RecordManager> engine,
                                         AudioDeviceID previousOutput, float previousVolume) {
    previousOutput_ = previousOutput;
    volumeOfPreviousOutput_ = previousVolume;
    emit volumeOfPreviousOutputChanged(volumeOfPreviousOutput_);

    recordManager_ = std::move(engine);
    enterPhase(Phase::recording);
    QPointer<RecordingController> controller(this);
    recordManager_->changeSeconds = [controller](double seconds, double megabytes) {
        if (controller != nullptr) {
            controller->setProgress(seconds, megabytes);
        }
    };
    recordManager_->captureFailed = [controller](const QString& message) {
        if (controller != nullptr) {
            controller->captureFailed(message);
        }
    };
    recordManager_->diskAlmostFull = [controller] {
        if (controller != nullptr) {
            controller->stopForFullDisk();
        }
    };
    recordManager_->isPlayingIntoCombinedOutput = AudioManager::isProgramPlaying;
    recordManager_->farSideSilent = [controller] {
        if (controller != nullptr) {
            controller->warnFarSideSilent();
        }
    };
    recordManager_->startRecord();
    Logging::write("Start record success", EventLoging::ok);
}

void RecordingController::warnFarSideSilent() {
    if (!warning_.isEmpty()) {
        return;
    }
    warning_ = txtFarSideSilentMsg;
    if (auto* workspace = Platform::shared().find<Workspace>()) {
        workspace->notifyUser(txtFarSideSilentTitle, txtFarSideSilentMsg);
    }
    emit stateChanged();
}

void RecordingController::failStart(std::optional<AudioStatus> status,
                                    const std::optional<QString>& screenRefusal) {
    const QString deviceName =
        selected_ && selected_->device ? selected_->device->localizedName : QString();
    const QString statusText = status ? QString::number(*status) : QString();
    fail(RecordingFailure::Kind::startFailed, txtError,
         screenRefusal ? *screenRefusal
                       : Localization::format(isVideo_ ? txtErrorStartVideoRecordMsg
                                                       : txtErrorStartAudioRecordMsg,
                                              {deviceName, statusText}));
    enterPhase(Phase::failed);
    QPointer<RecordingController> controller(this);
    deviceWork_.restoreOutput([controller] {
        // Unless chosen again meanwhile.
        if (controller != nullptr && controller->phase_ == Phase::failed) {
            controller->enterPhase(Phase::idle);
        }
    });
    Logging::write("No create aggregate", EventLoging::error);
}

void RecordingController::showPhase() {
    const bool isRecord = this->isRecord();
    if (selected_ && selectedIndex_) {
        states_[*selectedIndex_].title = targetTitle(*selected_, isRecord);
    }
    const std::optional<QString> selectedName =
        selected_ ? std::optional<QString>(selected_->nameDevice) : std::nullopt;
    for (std::size_t index = 0; index < targets_.size(); ++index) {
        if (isStopping() || isStarting()) {
            states_[index].enabled = false;
        } else if (targets_[index].nameDevice != selectedName) {
            states_[index].enabled = !isRecord;
        } else {
            // The chosen target is the stop command while recording.
            states_[index].enabled = true;
        }
    }
    volumeEnabled_ = isRecord;
    emit stateChanged();
}

} // namespace orvo
