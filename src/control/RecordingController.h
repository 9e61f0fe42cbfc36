#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QObject>
#include <QString>

#include "control/DeviceWork.h"
#include "control/RecordingFailure.h"
#include "control/RecordingTarget.h"
#include "platform/AudioHardware.h"
#include "platform/Displays.h"
#include "platform/SessionPreset.h"
#include "recording/ErrorRecord.h"
#include "store/RecordType.h"

namespace orvo {

class PrivacyManager;
class RecordManager;

// The one recording control of the program: choosing a target starts a recording from it,
// choosing it again stops it; the output goes through the combined device meanwhile and back
// afterwards. The tray menu and the records window's Record menu both present it, and the
// tray's alerts tell its failures. Main thread only; what waits on the sound server (building,
// switching and removing the combined output, opening the sources) runs on a device thread of its
// own, one job after another, so that a hung server never holds the interface. A start therefore
// completes a moment later.
class RecordingController : public QObject {
    Q_OBJECT
public:
    // Where a recording stands. A start goes idle, starting, recording; a stop goes
    // recording, stopping (the engine closes and merges), finalising (the output goes back
    // and the outcome is told), idle. A start the devices refuse goes to failed until the
    // output is back. isAllowed holds every step there is.
    enum class Phase { idle, starting, recording, stopping, finalising, failed };
    Q_ENUM(Phase)
    static bool isAllowed(Phase from, Phase to);

    // privacy answers the permission questions; the shared instance unless a test asks others.
    explicit RecordingController(PrivacyManager* privacy = nullptr, QObject* parent = nullptr);
    ~RecordingController() override;
    RecordingController(const RecordingController&) = delete;
    RecordingController& operator=(const RecordingController&) = delete;

    const QString txtStartAudioRecord;
    const QString txtStopAudioRecord;
    const QString txtStartVideoRecord;
    const QString txtStopVideoRecord;
    const QString txtError;
    const QString txtErrorStartAudioRecordMsg;
    const QString txtErrorStartVideoRecordMsg;
    const QString txtPrivacyMicTitle;
    const QString txtPrivacyMicMsg;
    const QString txtPrivacyVidTitle;
    const QString txtPrivacyVidMsg;
    const QString txtErrorStopAudioRecordMsg;
    const QString txtErrorStopVideoRecordMsg;
    const QString txtTime;
    const QString txtSize;
    const QString txtMb;
    const QString txtSaving;
    const QString txtDiskSpaceStart;
    const QString txtDiskSpaceStop;
    const QString txtFarSideSilentTitle;
    const QString txtFarSideSilentMsg;

    // Lists the microphones and screens again; every target appears idle, also during a
    // recording, which goes on. Emits targetsChanged.
    void updateTargets();
    const std::vector<RecordingTarget>& targets() const { return targets_; }
    // The start or stop text of the target with its name; empty for an unknown index.
    QString titleForTarget(int index) const;
    bool isTargetEnabled(int index) const;

    // What choosing a target does: starts a recording from it, or stops the running one.
    // An index outside the targets chooses none.
    void toggleTarget(int index);
    // The one way to end a recording for good, for quitting, a full disk or a sound server
    // that is gone: stops it, merges and catalogues it, gives the output back and removes
    // the combined device; whenFinalised runs on the main thread afterwards, whatever the
    // outcome (a failed merge still shows its alert and keeps the segments for the next
    // start). At once when idle; after the pending completion when a stop is under way.
    // showProgress: savingChanged announces the wait, when there is one to wait for.
    void stopAndFinalise(std::function<void()> whenFinalised, bool showProgress = false);
    // For a process that must end now (a signal): closes the segments without a merge,
    // leaving them for the next start's recovery, and gives the output back; whenClosed runs
    // on the main thread afterwards, at once when idle.
    void closeForExit(std::function<void()> whenClosed);
    // Before the process ends (or the driver goes): removes what was made ahead of a start,
    // and makes nothing more of it until keepDevicesReady(); then runs on the main thread.
    void releaseDevices(std::function<void()> then);
    void keepDevicesReady();

    Phase phase() const { return phase_; }
    bool isRecord() const { return phase_ == Phase::recording; }
    bool isVideo() const { return isVideo_; }
    // True from a stop until the engine's outcome has been handled; targets stay disabled.
    bool isStopping() const { return phase_ == Phase::stopping || phase_ == Phase::finalising; }
    // True from a start until the devices have answered; targets stay disabled meanwhile.
    bool isStarting() const { return phase_ == Phase::starting; }
    // Whether the volume of the previous output may be changed: while recording.
    bool isVolumeEnabled() const { return volumeEnabled_; }
    float volumeOfPreviousOutput() const { return volumeOfPreviousOutput_; }
    // The output the recording gives the sound back to, as it was at the start; the volume row
    // acts on it.
    AudioDeviceID previousOutput() const { return previousOutput_; }

    // The target chosen last, by its index in targets(); none after a rebuild.
    std::optional<int> selectedTarget() const { return selectedIndex_; }
    const std::shared_ptr<RecordManager>& recordManager() const { return recordManager_; }

    // The recording title for these values; empty unless both are present.
    QString titleText(std::optional<double> seconds, std::optional<double> megabytes) const;
    // The title of the running recording; empty when idle.
    QString statusText() const { return titleText(seconds_, megabytes_); }
    // What the user must know about the running recording (its far side is silent); empty
    // when all is well. Announced by stateChanged.
    const QString& warningText() const { return warning_; }

signals:
    void targetsChanged();
    // Every change of phase, and every warning; the targets' titles and states are updated.
    void stateChanged();
    void phaseChanged(orvo::RecordingController::Phase from, orvo::RecordingController::Phase to);
    // The one way failures leave the controller, after their log line.
    void failed(const orvo::RecordingFailure& failure);
    // stopAndFinalise with showProgress: true while the recording is saved, false once done.
    void savingChanged(bool saving);
    // A recording stopped by the user is in the catalogue, by its file name.
    void recordSaved(const QString& fileName);
    // Once a second while recording; both absent when a recording ends.
    void progressChanged(std::optional<double> seconds, std::optional<double> megabytes);
    // At each start: the volume of the output the recording will give the sound back to.
    void volumeOfPreviousOutputChanged(float volume);

private:
    struct TargetState {
        QString title;
        bool enabled = true;
    };

    // What a start asks of the devices, and what they answered.
    struct StartJob {
        std::vector<std::optional<AudioCaptureDevice>> devices;
        bool isVideo = false;
        SessionPreset preset{};
        std::optional<DisplayID> screen;
        std::optional<QString> screenRefusal; // why the desktop gave no screen
        std::optional<AudioStatus> status;
        std::shared_ptr<RecordManager> engine;
        AudioDeviceID previousOutput = noAudioDevice;
        float previousVolume = 0;
        int unrouted = 0; // playing streams the route could not take in
    };

    void enterPhase(Phase next);
    // Titles and enabled states for the phase, then stateChanged.
    void showPhase();
    void fail(RecordingFailure::Kind kind, const QString& title, const QString& message,
              RecordingFailure::Severity severity = RecordingFailure::Severity::critical);
    void startRecord();
    static void prepareDevices(StartJob& job, AudioRoute& route);
    void startPrepared(const StartJob& job);
    void beginRecording(std::shared_ptr<RecordManager> engine, AudioDeviceID previousOutput,
                        float previousVolume);
    void stopRecord();
    bool checkPermissions();
    std::optional<AudioCaptureDevice> chooseMicrophone() const;
    void failStart(std::optional<AudioStatus> status,
                   const std::optional<QString>& screenRefusal = std::nullopt);
    bool checkDiskSpace();
    void stopForFullDisk();
    // Once per recording: a desktop notification and the warning text.
    void warnFarSideSilent();
    void completedStop(std::optional<ErrorRecord> error);
    void finishStop(std::optional<ErrorRecord> error);
    // The engine lost a source for good: the recording is finalised with what came.
    void captureFailed(const QString& message);
    // The devices changed. While recording the combined output follows the user's output;
    // while idle the next start is made ready for the devices as they are now.
    void devicesChanged();
    // A start in progress: the action runs once it has completed, else at once.
    bool deferWhileStarting(std::function<void()> action);
    void runWhenFinalised();
    void setProgress(std::optional<double> seconds, std::optional<double> megabytes);
    QString targetTitle(const RecordingTarget& target, bool recording) const;

    PrivacyManager& privacy_;
    std::vector<RecordingTarget> targets_;
    // One per target: what the last rebuild or observer run made of it.
    std::vector<TargetState> states_;
    // The target chosen last; it may belong to the list before the last rebuild.
    std::optional<RecordingTarget> selected_;
    std::optional<int> selectedIndex_;
    std::shared_ptr<RecordManager> recordManager_;
    Phase phase_ = Phase::idle;
    std::vector<std::function<void()>> whenFinalised_;
    std::shared_ptr<void> deviceChanges_; // the audio hardware's events
    bool followPending_ = false;
    bool followAgain_ = false;
    bool isVideo_ = false;
    std::vector<std::function<void()>> afterStart_;
    bool volumeEnabled_ = false;
    float volumeOfPreviousOutput_ = 0;
    AudioDeviceID previousOutput_ = noAudioDevice;
    std::optional<double> seconds_;
    std::optional<double> megabytes_;
    QString warning_;
    // Last: its destruction waits for the device jobs, which may still report to this object.
    DeviceWork deviceWork_;
};

} // namespace orvo
