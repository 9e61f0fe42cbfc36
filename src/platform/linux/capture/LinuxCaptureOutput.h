#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include <QString>

#include "platform/Capture.h"
#include "platform/linux/signal/RecordingClock.h"

namespace orvo {

// The worker-thread part shared by the Linux file outputs: one thread per output, started
// when the session runs, opening the source at once and keeping it open until the session
// stops; start and stop requests reach it through the state below.
class LinuxCaptureOutput {
public:
    using TimePoint = RecordingClock::Clock::time_point;

    virtual ~LinuxCaptureOutput();
    LinuxCaptureOutput(const LinuxCaptureOutput&) = delete;
    LinuxCaptureOutput& operator=(const LinuxCaptureOutput&) = delete;

    // Starts the worker, which opens the source; returns at once.
    void attach(std::shared_ptr<CaptureInput> input, std::shared_ptr<RecordingClock> clock,
                SessionPreset preset);
    // Blocks until the worker has opened the source or failed: the sources of a session open
    // side by side, each on its own connection.
    void waitOpened();
    // Any thread; returns at once. The worker finishes a running recording and ends.
    void detach();
    // Any thread except this output's worker; blocks until the worker has ended.
    void waitEnded();
    // Any thread.
    bool onWorkerThread() const;

protected:
    struct StartRequest {
        QString path;
        CaptureFileType fileType = CaptureFileType::unknown;
        CaptureFileOutputRecordingDelegate* delegate = nullptr;
        TimePoint start;
    };
    struct Recording {
        QString path;
        CaptureFileOutputRecordingDelegate* delegate = nullptr;
    };

    LinuxCaptureOutput() = default;

    // Main thread, from the port's operations.
    void requestStart(const QString& path, CaptureFileType fileType,
                      CaptureFileOutputRecordingDelegate& delegate, CaptureFileOutput& self);
    void requestStop();
    bool recordingNow() const;

    // Worker thread: the capture loop of the backend. Returns when quitRequested().
    virtual void run() = 0;

    // Worker thread helpers.
    void reportOpened();
    std::optional<StartRequest> takeStart();
    std::optional<TimePoint> takeStop();
    bool quitRequested() const;
    // Waits at most timeout for a start, a stop or the end of the session.
    void waitForRequest(std::chrono::milliseconds timeout);
    // Ends the running recording: the delegate hears once.
    void finishRecording(CaptureFileOutput& self, std::optional<CaptureError> error);

    std::shared_ptr<CaptureInput> input_;       // set before the worker starts
    std::shared_ptr<RecordingClock> clock_;     // set before the worker starts
    SessionPreset preset_ = SessionPreset::low; // set before the worker starts
    std::optional<Recording> recording_;        // worker thread only, after start

private:
    virtual std::shared_ptr<LinuxCaptureOutput> self() = 0;

    mutable std::mutex mutex_; // guards everything below
    std::condition_variable changed_;
    std::thread thread_;
    bool opened_ = false;
    bool ended_ = false;
    bool quit_ = false;
    bool recordingFlag_ = false;
    std::optional<StartRequest> start_;
    std::optional<TimePoint> stop_;
};

} // namespace orvo
