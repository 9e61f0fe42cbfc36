#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>

#include <QObject>
#include <QString>
#include <QTimer>

#include "audio/CallDetector.h"
#include "control/RecordingController.h"

namespace orvo {

// Notices calls from the programs' sound streams and, as the user chose, offers to record
// them or records them. A recording it started (also through its offer) stops and is
// finalised as a stop from the tray once the call has ended, or after a cap; one the user
// started is never stopped by it. The record of a call names the calling program when no
// messenger was in front. Main thread only.
class CallDetection : public QObject {
    Q_OBJECT
public:
    using Mode = CallDetectionMode;
    static Mode currentMode();

    struct Options {
        CallDetector::Timing timing;
        std::chrono::milliseconds cap = std::chrono::hours(4);
    };

    explicit CallDetection(RecordingController& controller);
    CallDetection(RecordingController& controller, Options options, QObject* parent = nullptr);
    ~CallDetection() override;
    CallDetection(const CallDetection&) = delete;
    CallDetection& operator=(const CallDetection&) = delete;

    // The calling program whose call is offered for recording; absent when none is.
    const std::optional<QString>& offeredCall() const { return offered_; }
    // Records the offered call; the recording ends with it.
    void acceptOffer();
    void dismissOffer();
    // Whether the running recording is one this started, and so ends with its call.
    bool isRecordingCall() const { return recordingCall_.has_value(); }

    const QString txtOfferTitle;
    const QString txtOfferMsg;
    const QString txtRecord;
    const QString txtRecordingTitle;
    const QString txtRecordingMsg;
    const QString txtCapMsg;

signals:
    void offerChanged();

private:
    void streamsChanged();
    void evaluate();
    void report(const CallDetector::Decision& decision);
    void callConfirmed(const QString& application);
    void callEnded(const QString& application);
    void startCallRecording(const QString& application);
    void stopCallRecording();
    void phaseChanged(RecordingController::Phase to);
    void giveMessenger();
    void setOffer(std::optional<QString> application);
    std::optional<int> microphoneTarget();

    RecordingController& controller_;
    const Options options_;
    CallDetector detector_;
    QTimer deadline_;
    QTimer cap_;
    std::optional<QString> offered_;
    std::optional<QString> recordingCall_; // the program whose call this records
    bool startRequested_ = false;
    bool stopWhenStarted_ = false;
    // Many server events make one evaluation.
    std::shared_ptr<std::atomic<bool>> evaluationQueued_ = std::make_shared<std::atomic<bool>>();
    std::shared_ptr<void> observation_; // last: it calls back into this object
};

} // namespace orvo
