#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include <QDateTime>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include "platform/AudioHardware.h"
#include "platform/Capture.h"
#include "platform/Displays.h"
#include "platform/Media.h"
#include "platform/MediaComposition.h"
#include "platform/SessionPreset.h"
#include "recording/ErrorRecord.h"
#include "recording/SilentFarSide.h"
#include "store/RealmRecordModel.h"
#include "store/RecordType.h"

namespace orvo {

// Records one recording: one segment file per source while recording, then one merged file
// and its catalogue entry. Made for one recording and never reused.
//
// create, openSources and awaitFarSide run on the thread that prepares the devices (never two
// at once); startRecord, stopRecord and the progress on the main thread. The outcome
// (completedStop) arrives on the main thread once the catalogue has its entry, or on the
// export's worker thread when the merge fails. The manager keeps itself alive from stopRecord
// (or closeSegments, or finalise) until the outcome has been reported, so a holder may drop
// it at any time. Whatever fails, the segments stay on disk until the catalogue holds the
// record, so that the next start recovers them.
class RecordManager final : public std::enable_shared_from_this<RecordManager>,
                            private CaptureFileOutputRecordingDelegate {
public:
    using CompletedStop = std::function<void(bool, std::optional<ErrorRecord>)>;
    using ChangeSeconds = std::function<void(double seconds, double megabytes)>;

    // Absent when the capture session cannot be built as asked: an absent device, a source
    // or screen that cannot be opened, or nothing to record. screenDeviceID defaults to the
    // main display.
    static std::shared_ptr<RecordManager>
    // A screen that the desktop chooses (Wayland) may not come: screenRefusal, when given, is
    // then the user's text saying why.
    create(const std::vector<std::optional<AudioCaptureDevice>>& devices, bool isVideo = false,
           SessionPreset preset = SessionPreset::low,
           std::optional<DisplayID> screenDeviceID = std::nullopt,
           std::optional<QString>* screenRefusal = nullptr);
    // Where the desktop's screen-cast portal keeps the user's last choice of screen.
    static inline const QString screenCastTokenKey = QStringLiteral("ScreenCastRestoreToken");

    ~RecordManager();
    RecordManager(const RecordManager&) = delete;
    RecordManager& operator=(const RecordManager&) = delete;

    // A recording that a crash, a kill or a logout left as segments (paths of one stamp,
    // Configured state): finalise merges and catalogues it under its own name, with the start
    // written in its segments (else the stamp) as its time.
    static std::shared_ptr<RecordManager> recovered(const QString& stamp,
                                                    const std::vector<QString>& segments);

    // Opens the sources ahead of startRecord, from any thread: a source that has a reader
    // before the call's sound reaches it delivers that sound at once, where a source opened
    // just after may keep it back for several tenths of a second. startRecord opens them when
    // this was not called.
    void openSources();
    // After openSources, from any thread: blocks at most timeout until the far side (the second
    // source) has delivered data. True at once without one.
    bool awaitFarSide(std::chrono::milliseconds timeout);
    void startRecord();
    void stopRecord(CompletedStop completedStop = [](bool, std::optional<ErrorRecord>) {});
    // For the end of the program: stops the outputs and leaves their closed segments for the
    // next start, without a merge. closed runs once, on an output's worker thread.
    void closeSegments(std::function<void()> closed);
    // Merges the segments of a recovered recording; the outcome as for stopRecord.
    void finalise(CompletedStop completedStop);

    // Main thread, once a second while recording: (elapsed seconds, megabytes so far).
    ChangeSeconds changeSeconds;
    // Main thread, at most once: a source was lost for good while recording (a sound server
    // that did not come back, a device gone), with why. Its segment holds what came before;
    // the recording still needs its stopRecord to be finalised.
    std::function<void(const QString& message)> captureFailed;
    // Main thread, at most once: the records folder's file system keeps too little room for
    // the merge; the holder should stop the recording now.
    std::function<void()> diskAlmostFull;
    // Main thread, once a second while recording: whether some program plays into the
    // combined output. Must not wait on the sound server.
    std::function<bool()> isPlayingIntoCombinedOutput;
    // Main thread, at most once: the far side (the second source) stays silent while
    // something plays into the combined output (see SilentFarSide).
    std::function<void()> farSideSilent;

    // The first free stamp of that moment: "yyyyMMddHHmmss", then "-2", "-3", ... appended
    // while a file of the records folders already carries it.
    static QString freeStamp(const QDateTime& time);

    // Megabytes of 1,000,000 bytes; absent entries and unreadable files count 0.
    static double sizePerMB(const std::vector<std::optional<QString>>& urls);
    // Seconds of the recording file of that name; 0 when it cannot be read.
    static double duration(const QString& recordName, RecordType recordType);

    const QString& recordName() const { return recordName_; }
    const QString& fileName() const { return fileName_; }
    // Any thread. The messenger of the call being recorded, as the sound streams tell it; the
    // record names it when no messenger was in front.
    void setCallMessenger(std::optional<QString> messenger);
    // Any thread. What the user listens through at one moment of the recording. The merged
    // file says the first kind noted that is not worn (isWorn), else the last worn one: one
    // moment on speakers may have put the other side into the microphone.
    void noteUserOutput(OutputKind kind);
    const QDateTime& timeName() const { return timeName_; }

private:
    struct Private {};

public:
    RecordManager(Private, bool isVideo, SessionPreset preset, const QString& stamp);

private:
    bool buildSession(const std::vector<std::optional<AudioCaptureDevice>>& devices,
                      SessionPreset preset, std::optional<DisplayID> screenDeviceID,
                      std::optional<QString>* screenRefusal);
    static ScreenChoice screenChoice(std::optional<QString>* refusal);
    bool addPair(std::shared_ptr<CaptureInput> input, std::shared_ptr<CaptureFileOutput> output);
    bool connectPairs();
    QString segmentPath(std::size_t index) const;
    QString mixSegmentPath() const;
    QString echoFreeSegmentPath() const;
    std::optional<EchoFreeNearSide> echoFreeNearSide() const;
    void timerRecordHeader();
    void checkFreeSpace(double megabytes);
    void checkFarSide();
    QString outputFolder() const;

    void fileOutputDidFinishRecording(CaptureFileOutput& output, const QString& path,
                                      const std::optional<CaptureError>& error) override;
    void reportCaptureFailure(const QString& message);
    // Under the lock, keepWhoHearsTheEnd stores the stop's receiver; then every output stops.
    void stopOutputs(const std::function<void()>& keepWhoHearsTheEnd);
    void mergeAfterLastOutput();
    void margeRecordFilesAndCompleted();
    bool enoughSpaceToMerge() const;
    // Moves a file already at the output path aside, as "<stamp>.partial.<extension>".
    void setAsideLeftover(const QString& outputPath);
    // Where the last of the composition's aligned segments ends, in seconds.
    static double alignedEnd(const MediaComposition& composition);
    // Synced to the disk, read back, expectedTracks_ tracks, expectedSeconds_ long: what was
    // read back, or nothing.
    std::optional<MediaAsset> provenOnDisk(const QString& outputPath) const;
    static constexpr double provenSlackSeconds = 0.5;
    void exportCompleted(ExportStatus status, const QString& outputPath);
    void finishCompletedExport(const QString& outputPath);
    void saveAndCleanUp(const std::shared_ptr<RealmRecordModel>& record);
    void report(bool success, std::optional<ErrorRecord> error);
    std::shared_ptr<RealmRecordModel> recordFor(const QString& url, const MediaAsset& asset) const;

    QString defaultAudioName_;
    QString defaultVideoName_;
    QString recordName_;
    QString fileName_;
    QDateTime timeName_ = QDateTime::currentDateTime();
    std::unique_ptr<CaptureSession> session_;
    std::vector<std::shared_ptr<CaptureInput>> inputDevices_;
    std::vector<std::shared_ptr<CaptureFileOutput>> outputFiles_;
    std::vector<std::shared_ptr<CaptureConnection>> connections_;
    std::shared_ptr<CaptureAudioFileOutput> farSideOutput_; // the second device's, if any
    SilentFarSide silentFarSide_;
    // Guards currentActiveRecordFile_: the finish callbacks of the outputs can race, and the
    // last of them must start the merge exactly once.
    std::mutex activeFilesLock_;
    std::vector<QString> currentActiveRecordFile_;
    std::vector<QString> urlRecordFiles_;
    // A recovered recording's segments as recovered read them, for its merge.
    std::vector<MediaAsset> segmentAssets_;
    // Also guarded by activeFilesLock_: set by stopRecord on the main thread, read by the
    // merge on a worker.
    CompletedStop completedStop_;
    std::function<void()> segmentsClosed_;
    bool stopRequested_ = false;
    bool captureFailureReported_ = false;
    bool isVideo_ = false;
    SessionPreset preset_ = SessionPreset::low;
    bool diskAlmostFullReported_ = false;
    mutable std::mutex callMessengerLock_; // guards callMessenger_
    std::optional<QString> callMessenger_;
    std::mutex userOutputLock_; // guards userOutput_
    std::optional<OutputKind> userOutput_;
    std::unique_ptr<QTimer> timerRecord_;
    double countSeconds_ = 0;
    QElapsedTimer recordingTime_;
    std::unique_ptr<ExportSession> exportSession_;
    // What the merge must give, set when it starts (on the worker that merges).
    std::size_t expectedTracks_ = 0;
    double expectedSeconds_ = 0.0;
    // Set by stopRecord, released once the outcome is known.
    std::shared_ptr<RecordManager> keepAliveUntilReported_;
};

} // namespace orvo
