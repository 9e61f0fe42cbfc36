#include "platform/linux/capture/AudioWriteStage.h"

#include "platform/linux/capture/AacSegmentWriter.h"

namespace orvo {

AudioWriteStage::AudioWriteStage(std::unique_ptr<AacSegmentWriter> writer,
                                 std::int64_t capacityFrames)
    : writer_(std::move(writer)), capacityFrames_(capacityFrames), thread_([this] { run(); }) {}

AudioWriteStage::~AudioWriteStage() {
    finish();
}

std::optional<QString> AudioWriteStage::write(const float* interleaved, std::int64_t frames) {
    std::unique_lock lock(mutex_);
    // One block larger than the whole queue still goes in once the queue is empty.
    changed_.wait(lock, [&] {
        return error_ || queuedFrames_ == 0 || queuedFrames_ + frames <= capacityFrames_;
    });
    if (error_ || frames <= 0) {
        return error_;
    }
    const auto channels = std::size_t(AacSegmentWriter::channels);
    queue_.emplace_back(interleaved, interleaved + std::size_t(frames) * channels);
    queuedFrames_ += frames;
    changed_.notify_all();
    return std::nullopt;
}

std::optional<QString> AudioWriteStage::finish() {
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

void AudioWriteStage::run() {
    std::unique_lock lock(mutex_);
    while (true) {
        changed_.wait(lock, [&] { return !queue_.empty() || finishing_; });
        if (queue_.empty()) {
            break;
        }
        std::vector<float> block = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        const auto frames = std::int64_t(block.size() / AacSegmentWriter::channels);
        // After an error the rest is dropped: the segment ends with what was written.
        auto error = error_ ? std::nullopt : writer_->write(block.data(), frames);
        lock.lock();
        queuedFrames_ -= frames;
        if (error && !error_) {
            error_ = error;
        }
        changed_.notify_all();
    }
    lock.unlock();
    auto closing = writer_->finish();
    lock.lock();
    if (closing && !error_) {
        error_ = closing;
    }
    finished_ = true;
    changed_.notify_all();
}

} // namespace orvo
