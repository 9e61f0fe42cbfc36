#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace orvo {

// Workers of ended tasks that may still be stopping: joined once done, or at the end of the
// last owner (the recognizer or a task that outlived it).
class RetiredWorkers {
public:
    RetiredWorkers() = default;
    ~RetiredWorkers() { join(true); }
    RetiredWorkers(const RetiredWorkers&) = delete;
    RetiredWorkers& operator=(const RetiredWorkers&) = delete;

    // Any thread; never blocks on a worker.
    void add(std::thread worker, std::shared_ptr<const std::atomic<bool>> done);
    // Any thread; all: waits for every worker, else joins only those already done.
    void join(bool all);

private:
    std::mutex mutex_; // guards workers_
    std::vector<std::pair<std::thread, std::shared_ptr<const std::atomic<bool>>>> workers_;
};

} // namespace orvo
