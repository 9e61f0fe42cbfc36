#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <QString>

namespace orvo {

// Works through blocks of interleaved frames in order on a thread of its own, behind a queue of
// up to capacityFrames. The first error of all ends the work: what comes after it is dropped, as
// it would lack what came before. One producer thread at a time.
class BoundedWorker {
public:
    // What a producer meets when the queue is full.
    struct WhenFull {
        // It waits for room: a stall of the work holds up the producer, and nothing else.
        static WhenFull wait() { return {}; }
        // The worker fails with error and drops its queue: the producer is never held up.
        static WhenFull giveUp(QString error) { return {std::move(error)}; }

        std::optional<QString> giveUpError; // absent: wait
    };
    // A block of frames; the error that ends the work. The worker's thread.
    using Work =
        std::function<std::optional<QString>(const float* interleaved, std::int64_t frames)>;
    // Once finish is asked and the queue is through, told whether an error came first; the error
    // of closing. The worker's thread.
    using Close = std::function<std::optional<QString>(bool failed)>;

    BoundedWorker(int channels, std::int64_t capacityFrames, WhenFull whenFull, Work work,
                  Close close);
    // Finishes, waiting for the thread.
    ~BoundedWorker();
    BoundedWorker(const BoundedWorker&) = delete;
    BoundedWorker& operator=(const BoundedWorker&) = delete;

    // Queues a copy of the frames; a block larger than the whole queue still goes in once the
    // queue is empty. Blocks only while a producer that waits finds the queue full. The first
    // error so far.
    std::optional<QString> push(const float* interleaved, std::int64_t frames);
    // Ends the work with error, unless one came first. Any thread; does not block.
    void fail(const QString& error);
    // The first error so far. Any thread; does not block.
    std::optional<QString> error() const;
    // Whether finish was asked. Any thread; does not block.
    bool finishing() const;
    // Works through the queue, closes and ends the thread, waiting for all that; the first
    // error of the whole work. The producer's thread.
    std::optional<QString> finish();

private:
    bool roomFor(std::int64_t frames) const;
    void run();
    void keep(std::optional<QString> error);

    const std::size_t channels_;
    const std::int64_t capacityFrames_;
    const WhenFull whenFull_;
    const Work work_;
    const Close close_;
    mutable std::mutex mutex_; // guards everything below but the thread
    std::condition_variable changed_;
    std::deque<std::vector<float>> queue_;
    std::int64_t queuedFrames_ = 0;  // waiting in the queue
    std::int64_t workingFrames_ = 0; // of the block the work has in hand
    bool finishing_ = false;
    bool finished_ = false;
    std::optional<QString> error_;
    std::thread thread_; // last: it starts once everything else exists
};

} // namespace orvo
