#include "platform/linux/capture/LinuxCaptureOutput.h"

namespace orvo {

LinuxCaptureOutput::~LinuxCaptureOutput() {
    if (thread_.joinable()) {
        // The last owner may be the worker itself, inside a finish callback.
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();
        } else {
            thread_.join();
        }
    }
}

void LinuxCaptureOutput::attach(std::shared_ptr<CaptureInput> input,
                                std::shared_ptr<RecordingClock> clock, SessionPreset preset) {
    {
        std::lock_guard lock(mutex_);
        if (thread_.joinable()) {
            return;
        }
    }
    input_ = std::move(input);
    clock_ = std::move(clock);
    preset_ = preset;
    // The worker owns a reference to its output until it ends, so that a finish callback may
    // drop every other one.
    std::lock_guard lock(mutex_);
    thread_ = std::thread([owner = self()]() mutable {
        owner->run();
        {
            std::lock_guard lock(owner->mutex_);
            owner->ended_ = true;
        }
        owner->changed_.notify_all();
        owner.reset();
    });
}

void LinuxCaptureOutput::waitOpened() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return opened_ || ended_ || !thread_.joinable(); });
}

void LinuxCaptureOutput::detach() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
}

void LinuxCaptureOutput::waitEnded() {
    std::unique_lock lock(mutex_);
    if (!thread_.joinable() || thread_.get_id() == std::this_thread::get_id()) {
        return;
    }
    changed_.wait(lock, [this] { return ended_; });
}

bool LinuxCaptureOutput::onWorkerThread() const {
    std::lock_guard lock(mutex_);
    return thread_.get_id() == std::this_thread::get_id();
}

void LinuxCaptureOutput::requestStart(const QString& path, CaptureFileType fileType,
                                      CaptureFileOutputRecordingDelegate& delegate,
                                      CaptureFileOutput& self) {
    std::optional<CaptureError> refusal;
    {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable() || quit_ || ended_) {
            refusal = CaptureError{CaptureErrorCode::sessionNotRunning,
                                   QStringLiteral("The capture session is not running.")};
        } else if (recordingFlag_) {
            refusal = CaptureError{CaptureErrorCode::fileFailed,
                                   QStringLiteral("The output is already recording.")};
        } else {
            recordingFlag_ = true;
            start_ = StartRequest{path, fileType, &delegate, clock_->recordingStart()};
            stop_.reset();
        }
    }
    if (refusal) {
        delegate.fileOutputDidFinishRecording(self, path, refusal);
        return;
    }
    changed_.notify_all();
}

void LinuxCaptureOutput::requestStop() {
    {
        std::lock_guard lock(mutex_);
        if (!recordingFlag_ || stop_) {
            return;
        }
        stop_ = clock_->now();
    }
    changed_.notify_all();
}

bool LinuxCaptureOutput::recordingNow() const {
    std::lock_guard lock(mutex_);
    return recordingFlag_;
}

void LinuxCaptureOutput::reportOpened() {
    {
        std::lock_guard lock(mutex_);
        opened_ = true;
    }
    changed_.notify_all();
}

std::optional<LinuxCaptureOutput::StartRequest> LinuxCaptureOutput::takeStart() {
    std::lock_guard lock(mutex_);
    return std::exchange(start_, std::nullopt);
}

std::optional<LinuxCaptureOutput::TimePoint> LinuxCaptureOutput::takeStop() {
    std::lock_guard lock(mutex_);
    return std::exchange(stop_, std::nullopt);
}

bool LinuxCaptureOutput::quitRequested() const {
    std::lock_guard lock(mutex_);
    return quit_;
}

void LinuxCaptureOutput::waitForRequest(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [this] { return quit_ || start_ || stop_; });
}

void LinuxCaptureOutput::finishRecording(CaptureFileOutput& self,
                                         std::optional<CaptureError> error) {
    if (!recording_) {
        return;
    }
    const Recording finished = *std::exchange(recording_, std::nullopt);
    {
        std::lock_guard lock(mutex_);
        recordingFlag_ = false;
        stop_.reset();
    }
    finished.delegate->fileOutputDidFinishRecording(self, finished.path, error);
}

} // namespace orvo
