#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/Media.h"

namespace orvo::test {

// Runs an export and waits for its completion; how often and where the completion ran.
struct ExportRun {
    int completions = 0;
    std::thread::id thread;
    ExportStatus status = ExportStatus::unknown;
};

inline ExportRun exportAndWait(ExportSession& session) {
    std::mutex mutex; // guards run
    std::condition_variable done;
    ExportRun run;
    session.exportAsynchronously([&] {
        std::lock_guard lock(mutex);
        ++run.completions;
        run.thread = std::this_thread::get_id();
        run.status = session.status();
        done.notify_all();
    });
    std::unique_lock lock(mutex);
    done.wait_for(lock, std::chrono::seconds(60), [&] { return run.completions > 0; });
    return run;
}

} // namespace orvo::test
