#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/Capture.h"

namespace orvo {

class RecordingClock;

// The Linux capture session: each connected output runs its source on a worker thread of
// its own while the session runs, all timed by one RecordingClock.
class LinuxCaptureSession final : public CaptureSession {
public:
    LinuxCaptureSession();
    // Stops running and waits for the workers (except when destroyed on one of them).
    ~LinuxCaptureSession() override;

    void setSessionPreset(SessionPreset preset) override;
    SessionPreset sessionPreset() const override;
    bool canAddInput(const std::shared_ptr<CaptureInput>& input) const override;
    bool addInputWithNoConnections(std::shared_ptr<CaptureInput> input) override;
    bool canAddOutput(const std::shared_ptr<CaptureFileOutput>& output) const override;
    bool addOutputWithNoConnections(std::shared_ptr<CaptureFileOutput> output) override;
    bool canAddConnection(const std::shared_ptr<CaptureConnection>& connection) const override;
    bool addConnection(std::shared_ptr<CaptureConnection> connection) override;
    void removeConnection(const std::shared_ptr<CaptureConnection>& connection) override;
    void setAudioMixPath(const QString& path,
                         const std::optional<EchoFreeNearSide>& echoFree) override;
    void startRunning() override;
    void stopRunning() override;
    bool isRunning() const override;

private:
    bool canAddConnectionLocked(const std::shared_ptr<CaptureConnection>& connection) const;

    mutable std::mutex mutex_; // guards everything below
    SessionPreset preset_ = SessionPreset::low;
    std::vector<std::shared_ptr<CaptureInput>> inputs_;
    std::vector<std::shared_ptr<CaptureFileOutput>> outputs_;
    std::vector<std::shared_ptr<CaptureConnection>> connections_;
    std::shared_ptr<RecordingClock> clock_;
    bool running_ = false;
};

} // namespace orvo
