#include "platform/linux/capture/BoundedWorker.h"

namespace orvo {

BoundedWorker::BoundedWorker(int channels, std::int64_t capacityFrames, WhenFull whenFull,
                             Work work, Close close)
    : channels_(std::size_t(channels)), capacityFrames_(capacityFrames),
      whenFull_(std::move(whenFull)), work_(std::move(work)), close_(std::move(close)),
      thread_([this] { run(); }) {}

BoundedWorker::~BoundedWorker() {
    finish();
}

std::optional<QString> BoundedWorker::push(const float* interleaved, std::int64_t frames) {
    std::unique_lock lock(mutex_);
    if (!whenFull_.giveUpError) {
        changed_.wait(lock, [&] { return error_ || roomFor(frames); });
    }
    if (error_ || frames <= 0) {
        return error_;
    }
    queue_.emplace_back(interleaved, interleaved + std::size_t(frames) * channels_);
    queuedFrames_ += frames;
    // Only what waits counts here: the block in hand is being caught up on.
    if (whenFull_.giveUpError && queuedFrames_ > capacityFrames_) {
        error_ = whenFull_.giveUpError;
        queue_.clear();
        queuedFrames_ = 0;
    }
    changed_.notify_all();
    return error_;
}

bool BoundedWorker::roomFor(std::int64_t frames) const {
    // The block in hand counts too, so that a stalled work holds no more than the capacity.
    const std::int64_t held = queuedFrames_ + workingFrames_;
    return held == 0 || held + frames <= capacityFrames_;
}

void BoundedWorker::fail(const QString& error) {
    std::lock_guard lock(mutex_);
    keep(error);
    changed_.notify_all();
}

std::optional<QString> BoundedWorker::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

bool BoundedWorker::finishing() const {
    std::lock_guard lock(mutex_);
    return finishing_;
}

std::optional<QString> BoundedWorker::finish() {
    std::unique_lock lock(mutex_);
    if (!finishing_) {
        finishing_ = true;
        changed_.notify_all();
    }
    changed_.wait(lock, [&] { return finished_; });
    lock.unlock();
    if (thread_.joinable()) {
        thread_.join();
    }
    std::lock_guard relock(mutex_);
    return error_;
}

void BoundedWorker::run() {
    std::unique_lock lock(mutex_);
    while (true) {
        changed_.wait(lock, [&] { return !queue_.empty() || finishing_; });
        if (queue_.empty()) {
            break;
        }
        std::vector<float> block = std::move(queue_.front());
        queue_.pop_front();
        const auto frames = std::int64_t(block.size() / channels_);
        queuedFrames_ -= frames;
        if (!error_) {
            workingFrames_ = frames;
            lock.unlock();
            auto error = work_(block.data(), frames);
            lock.lock();
            workingFrames_ = 0;
            keep(std::move(error));
        }
        changed_.notify_all();
    }
    const bool failed = error_.has_value();
    lock.unlock();
    auto closing = close_(failed);
    lock.lock();
    keep(std::move(closing));
    finished_ = true;
    changed_.notify_all();
}

void BoundedWorker::keep(std::optional<QString> error) {
    if (error && !error_) {
        error_ = std::move(error);
    }
}

} // namespace orvo
