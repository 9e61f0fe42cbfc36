#include "control/CallDetection.h"

#include <algorithm>

#include <QCoreApplication>
#include <QPointer>

#include "audio/AudioManager.h"
#include "platform/MainThread.h"
#include "platform/Platform.h"
#include "platform/Workspace.h"
#include "recording/RecordManager.h"
#include "shell/API.h"
#include "shell/Console.h"
#include "shell/Localization.h"
#include "shell/SettingsManager.h"

namespace orvo {
namespace {

using Phase = RecordingController::Phase;

// A timer can wake a moment early; the detector decides at the deadline, not before it.
constexpr int deadlineSlackMs = 20;

std::vector<ProgramStream> currentStreams() {
    auto* hardware = Platform::shared().find<AudioHardware>();
    return hardware != nullptr ? hardware->programStreams() : std::vector<ProgramStream>();
}

QString describe(const CallDetector::Decision& decision) {
    QString where;
    if (decision.stream != 0) {
        where = QStringLiteral("stream %1").arg(decision.stream);
    }
    if (decision.processID) {
        where += (where.isEmpty() ? QString() : QStringLiteral(", ")) +
                 QStringLiteral("process %1").arg(*decision.processID);
    }
    return decision.application + (where.isEmpty() ? QString() : " (" + where + ")");
}

} // namespace

CallDetection::Mode CallDetection::currentMode() {
    return callDetectionModeOf(SettingsManager::shared().getValue(callDetectionSettingKey));
}

CallDetection::CallDetection(RecordingController& controller)
    : CallDetection(controller, Options()) {}

CallDetection::CallDetection(RecordingController& controller, Options options, QObject* parent)
    : QObject(parent), txtOfferTitle(Localization::text("CALL_DETECTED_TITLE")),
      txtOfferMsg(Localization::text("CALL_DETECTED_MSG")),
      txtRecord(Localization::text("CALL_DETECTED_RECORD")),
      txtRecordingTitle(Localization::text("CALL_RECORDING_TITLE")),
      txtRecordingMsg(Localization::text("CALL_RECORDING_MSG")),
      txtCapMsg(Localization::text("CALL_RECORDING_CAP_MSG")), controller_(controller),
      options_(options), detector_(QCoreApplication::applicationPid(), options.timing) {
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, &CallDetection::evaluate);
    cap_.setSingleShot(true);
    connect(&cap_, &QTimer::timeout, this, [this] {
        if (!recordingCall_) {
            return;
        }
        consoleLine("Call detection: the recording of " + *recordingCall_ + " reached its cap");
        if (auto* workspace = Platform::shared().find<Workspace>()) {
            workspace->notifyUser(txtRecordingTitle,
                                  Localization::format(txtCapMsg, {*recordingCall_}));
        }
        stopCallRecording();
    });
    connect(&controller_, &RecordingController::phaseChanged, this,
            [this](Phase, Phase to) { phaseChanged(to); });
    QPointer<CallDetection> self(this);
    auto queued = evaluationQueued_;
    observation_ = AudioManager::observeDeviceChanges([self, queued] {
        if (queued->exchange(true)) {
            return;
        }
        dispatchToMain([self, queued] {
            queued->store(false);
            if (self != nullptr) {
                self->evaluate();
            }
        });
    });
    evaluate();
}

CallDetection::~CallDetection() {
    observation_.reset();
}

void CallDetection::evaluate() {
    const auto now = CallDetector::Clock::now();
    for (const auto& decision : detector_.update(currentStreams(), now)) {
        report(decision);
        if (decision.kind == CallDetector::Decision::Kind::confirmed) {
            callConfirmed(decision.application);
        } else if (decision.kind == CallDetector::Decision::Kind::ended) {
            callEnded(decision.application);
        }
    }
    deadline_.stop();
    if (const auto next = detector_.nextDeadline()) {
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(*next - now);
        deadline_.start(int(std::max<std::int64_t>(0, wait.count())) + deadlineSlackMs);
    }
}

void CallDetection::report(const CallDetector::Decision& decision) {
    using Kind = CallDetector::Decision::Kind;
    switch (decision.kind) {
    case Kind::candidate:
        consoleLine("Call detection: candidate " + describe(decision));
        break;
    case Kind::ignored:
        consoleLine("Call detection: ignored " + describe(decision) + ": " + decision.reason);
        break;
    case Kind::confirmed:
        consoleLine("Call detection: confirmed " + describe(decision));
        break;
    case Kind::ended:
        consoleLine("Call detection: ended " + describe(decision));
        break;
    }
}

void CallDetection::callConfirmed(const QString& application) {
    if (controller_.phase() != Phase::idle && controller_.phase() != Phase::failed) {
        // Already recording, as the user chose: only its record learns the program.
        giveMessenger();
        return;
    }
    auto* workspace = Platform::shared().find<Workspace>();
    switch (currentMode()) {
    case Mode::off:
        return;
    case Mode::suggest: {
        setOffer(application);
        if (workspace != nullptr) {
            QPointer<CallDetection> self(this);
            workspace->notifyUserWithAction(
                txtOfferTitle, Localization::format(txtOfferMsg, {application}), txtRecord,
                [self, application] {
                    if (self != nullptr && self->offered_ == application) {
                        self->acceptOffer();
                    }
                });
        }
        return;
    }
    case Mode::record:
        startCallRecording(application);
        if (workspace != nullptr && startRequested_) {
            workspace->notifyUser(txtRecordingTitle,
                                  Localization::format(txtRecordingMsg, {application}));
        }
        return;
    }
}

void CallDetection::callEnded(const QString& application) {
    if (offered_ == application) {
        setOffer(std::nullopt);
    }
    if (recordingCall_ == application) {
        stopCallRecording();
    }
}

void CallDetection::acceptOffer() {
    if (!offered_) {
        return;
    }
    const QString application = *std::exchange(offered_, std::nullopt);
    emit offerChanged();
    if (controller_.phase() == Phase::idle || controller_.phase() == Phase::failed) {
        startCallRecording(application);
    }
}

void CallDetection::dismissOffer() {
    setOffer(std::nullopt);
}

void CallDetection::setOffer(std::optional<QString> application) {
    if (offered_ != application) {
        offered_ = std::move(application);
        emit offerChanged();
    }
}

std::optional<int> CallDetection::microphoneTarget() {
    // As the tray's entry for the microphone the user chose as default, else the first one.
    controller_.updateTargets();
    const auto& targets = controller_.targets();
    auto* hardware = Platform::shared().find<AudioHardware>();
    const auto wanted = hardware != nullptr ? hardware->defaultCaptureDeviceUID() : std::nullopt;
    std::optional<int> first;
    for (int i = 0; i < int(targets.size()); ++i) {
        if (targets[i].recordType != RecordType::audio || !targets[i].device) {
            continue;
        }
        if (wanted && targets[i].device->uniqueID == *wanted) {
            return i;
        }
        first = first.value_or(i);
    }
    return first;
}

void CallDetection::startCallRecording(const QString& application) {
    const auto target = microphoneTarget();
    if (!target) {
        consoleLine("Call detection: no microphone to record " + application + " with");
        return;
    }
    setOffer(std::nullopt);
    recordingCall_ = application;
    startRequested_ = true;
    controller_.toggleTarget(*target);
}

void CallDetection::stopCallRecording() {
    if (controller_.isStarting()) {
        stopWhenStarted_ = true;
        return;
    }
    if (controller_.isRecord()) {
        // What the tray's entry does when chosen during a recording.
        controller_.toggleTarget(controller_.selectedTarget().value_or(-1));
    }
}

void CallDetection::phaseChanged(Phase to) {
    switch (to) {
    case Phase::recording:
        if (startRequested_) {
            startRequested_ = false;
            cap_.start(int(options_.cap.count()));
        }
        giveMessenger();
        if (std::exchange(stopWhenStarted_, false) && recordingCall_) {
            stopCallRecording();
        }
        return;
    case Phase::idle:
    case Phase::failed:
        startRequested_ = false;
        stopWhenStarted_ = false;
        recordingCall_.reset();
        cap_.stop();
        return;
    case Phase::starting:
        // Whoever started it, the call is being recorded now.
        setOffer(std::nullopt);
        return;
    case Phase::stopping:
    case Phase::finalising:
        return;
    }
}

void CallDetection::giveMessenger() {
    const auto calls = detector_.calls();
    const auto& engine = controller_.recordManager();
    if (calls.empty() || engine == nullptr || !controller_.isRecord()) {
        return;
    }
    // The call being recorded, if this started it; else the first call going on.
    const auto recorded = std::find_if(calls.begin(), calls.end(), [&](const auto& call) {
        return recordingCall_ && call.application == *recordingCall_;
    });
    engine->setCallMessenger((recorded != calls.end() ? *recorded : calls.front()).messenger);
}

} // namespace orvo
