#pragma once

#include <mutex>
#include <optional>

#include <QCoreApplication>

#include "recording/RecordManager.h"
#include "support/TestFiles.h"

namespace orvo::test {

// What a recording reported when it was stopped. The report arrives on a worker thread; the
// test reads it on the main thread once stopAndWait has returned true.
class StopOutcome {
public:
    // Stops the recording and waits, with the main thread's events running, for its outcome
    // and for the save it queued there.
    bool stopAndWait(RecordManager& manager, int timeoutMs) {
        manager.stopRecord([this](bool success, std::optional<ErrorRecord> error) {
            std::lock_guard lock(lock_);
            ++calls_;
            success_ = success;
            error_ = error;
        });
        const bool reported = waitWithEvents([this] { return calls() > 0; }, timeoutMs);
        QCoreApplication::processEvents();
        return reported;
    }
    void reset() {
        std::lock_guard lock(lock_);
        calls_ = 0;
        success_ = false;
        error_.reset();
    }
    int calls() const {
        std::lock_guard lock(lock_);
        return calls_;
    }
    bool success() const {
        std::lock_guard lock(lock_);
        return success_;
    }
    std::optional<ErrorRecord> error() const {
        std::lock_guard lock(lock_);
        return error_;
    }

private:
    mutable std::mutex lock_; // guards the fields below
    int calls_ = 0;
    bool success_ = false;
    std::optional<ErrorRecord> error_;
};

} // namespace orvo::test
