#include "platform/linux/capture/LinuxCaptureSession.h"

#include <algorithm>

#include "platform/linux/capture/CaptureQuality.h"
#include "platform/linux/capture/LinuxAudioFileOutput.h"
#include "platform/linux/capture/LinuxCaptureInputs.h"
#include "platform/linux/capture/LinuxCaptureOutput.h"
#include "platform/linux/capture/LiveMixSegment.h"
#include "platform/linux/signal/RecordingClock.h"

namespace orvo {

namespace {

template <class T> bool contains(const std::vector<std::shared_ptr<T>>& list, const T* item) {
    return std::any_of(list.begin(), list.end(), [item](const auto& x) { return x.get() == item; });
}

LinuxCaptureOutput* worker(const std::shared_ptr<CaptureFileOutput>& output) {
    return dynamic_cast<LinuxCaptureOutput*>(output.get());
}

bool ours(const std::shared_ptr<CaptureInput>& input) {
    return dynamic_cast<const LinuxDeviceInput*>(input.get()) != nullptr ||
           dynamic_cast<const LinuxScreenInput*>(input.get()) != nullptr;
}

} // namespace

LinuxCaptureSession::LinuxCaptureSession() = default;

LinuxCaptureSession::~LinuxCaptureSession() {
    stopRunning();
    for (const auto& output : outputs_) {
        if (auto* out = worker(output)) {
            out->waitEnded();
        }
    }
}

void LinuxCaptureSession::setSessionPreset(SessionPreset preset) {
    std::lock_guard lock(mutex_);
    preset_ = preset;
}

SessionPreset LinuxCaptureSession::sessionPreset() const {
    std::lock_guard lock(mutex_);
    return preset_;
}

bool LinuxCaptureSession::canAddInput(const std::shared_ptr<CaptureInput>& input) const {
    std::lock_guard lock(mutex_);
    return input && ours(input) && !contains(inputs_, input.get());
}

bool LinuxCaptureSession::addInputWithNoConnections(std::shared_ptr<CaptureInput> input) {
    if (!canAddInput(input)) {
        return false;
    }
    std::lock_guard lock(mutex_);
    inputs_.push_back(std::move(input));
    return true;
}

bool LinuxCaptureSession::canAddOutput(const std::shared_ptr<CaptureFileOutput>& output) const {
    std::lock_guard lock(mutex_);
    // Outputs join before the session runs: their sources open when it starts.
    return output && worker(output) != nullptr && !running_ && !contains(outputs_, output.get());
}

bool LinuxCaptureSession::addOutputWithNoConnections(std::shared_ptr<CaptureFileOutput> output) {
    if (!canAddOutput(output)) {
        return false;
    }
    std::lock_guard lock(mutex_);
    outputs_.push_back(std::move(output));
    return true;
}

bool LinuxCaptureSession::canAddConnectionLocked(
    const std::shared_ptr<CaptureConnection>& connection) const {
    if (!connection || !connection->input() || !connection->output() || running_) {
        return false;
    }
    const bool outputTaken =
        std::any_of(connections_.begin(), connections_.end(), [&](const auto& existing) {
            return existing == connection || existing->output() == connection->output();
        });
    return !outputTaken && contains(inputs_, connection->input().get()) &&
           contains(outputs_, connection->output().get()) &&
           connection->input()->mediaType() == connection->output()->mediaType();
}

bool LinuxCaptureSession::canAddConnection(
    const std::shared_ptr<CaptureConnection>& connection) const {
    std::lock_guard lock(mutex_);
    return canAddConnectionLocked(connection);
}

bool LinuxCaptureSession::addConnection(std::shared_ptr<CaptureConnection> connection) {
    std::lock_guard lock(mutex_);
    if (!canAddConnectionLocked(connection)) {
        return false;
    }
    connections_.push_back(std::move(connection));
    return true;
}

void LinuxCaptureSession::removeConnection(const std::shared_ptr<CaptureConnection>& connection) {
    std::shared_ptr<CaptureConnection> removed;
    {
        std::lock_guard lock(mutex_);
        const auto found = std::find(connections_.begin(), connections_.end(), connection);
        if (found == connections_.end()) {
            return;
        }
        removed = *found;
        connections_.erase(found);
    }
    if (auto* out = worker(removed->output())) {
        out->detach();
    }
}

void LinuxCaptureSession::setAudioMixPath(const QString& path,
                                          const std::optional<EchoFreeNearSide>& echoFree) {
    std::vector<LinuxAudioFileOutput*> sides;
    SessionPreset preset;
    {
        std::lock_guard lock(mutex_);
        for (const auto& connection : connections_) {
            if (auto* out = dynamic_cast<LinuxAudioFileOutput*>(connection->output().get())) {
                sides.push_back(out);
            }
        }
        preset = preset_;
    }
    auto mix = std::make_shared<LiveMixSegment>(path, captureQuality(preset).audioBitRate,
                                                int(sides.size()), echoFree);
    for (std::size_t i = 0; i < sides.size(); ++i) {
        sides[i]->setMix(mix, int(i));
    }
}

void LinuxCaptureSession::startRunning() {
    std::vector<std::shared_ptr<CaptureConnection>> connections;
    SessionPreset preset;
    std::shared_ptr<RecordingClock> clock;
    {
        std::lock_guard lock(mutex_);
        if (running_) {
            return;
        }
        running_ = true;
        clock_ = std::make_shared<RecordingClock>();
        connections = connections_;
        preset = preset_;
        clock = clock_;
    }
    for (const auto& connection : connections) {
        if (auto* out = worker(connection->output())) {
            out->attach(connection->input(), clock, preset);
        }
    }
    for (const auto& connection : connections) {
        if (auto* out = worker(connection->output())) {
            out->waitOpened();
        }
    }
}

void LinuxCaptureSession::stopRunning() {
    std::vector<std::shared_ptr<CaptureFileOutput>> outputs;
    {
        std::lock_guard lock(mutex_);
        if (!running_) {
            return;
        }
        running_ = false;
        outputs = outputs_;
    }
    for (const auto& output : outputs) {
        if (auto* out = worker(output)) {
            out->detach();
        }
    }
}

bool LinuxCaptureSession::isRunning() const {
    std::lock_guard lock(mutex_);
    return running_;
}

} // namespace orvo
