#include "platform/linux/capture/EchoFreeSideStage.h"

#include <QFile>

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace orvo {

struct EchoFreeSideStage::Token {};

std::unique_ptr<EchoFreeSideStage> EchoFreeSideStage::open(const QString& path,
                                                           EchoCanceller& canceller,
                                                           std::int64_t startEpochMicroseconds,
                                                           QString* error) {
    std::unique_ptr<EchoCancellation> cancellation = canceller.start(rate, EchoSides::captured);
    if (cancellation == nullptr) {
        *error = QStringLiteral("no echo cancellation at %1 Hz").arg(rate);
        return nullptr;
    }
    auto stage = std::make_unique<EchoFreeSideStage>(Token{}, path, std::move(cancellation));
    auto failed = stage->openResampler();
    if (!failed) {
        failed = stage->writer_.open(path, "ipod", AacSegmentWriter::speechBitRate,
                                     startEpochMicroseconds, AacSegmentWriter::Layout::speechMono,
                                     {rate, 1});
    }
    if (failed) {
        *error = *failed;
        stage->writer_.finish();
        QFile::remove(path);
        return nullptr;
    }
    stage->thread_ = std::thread([raw = stage.get()] { raw->run(); });
    return stage;
}

EchoFreeSideStage::EchoFreeSideStage(const Token&, QString path,
                                     std::unique_ptr<EchoCancellation> cancellation)
    : path_(std::move(path)), cancellation_(std::move(cancellation)) {}

EchoFreeSideStage::~EchoFreeSideStage() {
    fail(QStringLiteral("dropped"));
    finish();
}

std::optional<QString> EchoFreeSideStage::openResampler() {
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    SwrContext* raw = nullptr;
    int result = swr_alloc_set_opts2(&raw, &stereo, AV_SAMPLE_FMT_FLT, rate, &stereo,
                                     AV_SAMPLE_FMT_FLT, AacSegmentWriter::sampleRate, 0, nullptr);
    resampler_.reset(raw);
    if (result < 0 || (result = swr_init(resampler_.get())) < 0) {
        return QStringLiteral("cannot convert the audio: %1").arg(ffmpeg::errorText(result));
    }
    return std::nullopt;
}

std::optional<QString> EchoFreeSideStage::add(const float* near, const float* far,
                                              std::int64_t frames) {
    {
        std::lock_guard lock(mutex_);
        if (error_ || finishing_) {
            return error_;
        }
    }
    // Each side as one channel of a pair, so that one resampler keeps them in step.
    pairs_.resize(std::size_t(frames) * 2);
    for (std::size_t i = 0; i < std::size_t(frames); ++i) {
        pairs_[2 * i] = (near[2 * i] + near[2 * i + 1]) * 0.5f;
        pairs_[2 * i + 1] = (far[2 * i] + far[2 * i + 1]) * 0.5f;
    }
    Chunk chunk;
    if (auto error = resample(pairs_.data(), frames, chunk)) {
        fail(*error);
        return error;
    }
    queue(std::move(chunk));
    std::lock_guard lock(mutex_);
    return error_;
}

std::optional<QString> EchoFreeSideStage::resample(const float* pairs, std::int64_t frames,
                                                   Chunk& chunk) {
    const int room = swr_get_out_samples(resampler_.get(), int(frames));
    if (room < 0) {
        return QStringLiteral("cannot convert the audio: %1").arg(ffmpeg::errorText(room));
    }
    resampled_.resize(std::size_t(room) * 2);
    auto* out = reinterpret_cast<std::uint8_t*>(resampled_.data());
    const auto* in = reinterpret_cast<const std::uint8_t*>(pairs);
    const int written =
        swr_convert(resampler_.get(), &out, room, pairs ? &in : nullptr, int(frames));
    if (written < 0) {
        return QStringLiteral("cannot convert the audio: %1").arg(ffmpeg::errorText(written));
    }
    chunk.near.resize(std::size_t(written));
    chunk.far.resize(std::size_t(written));
    for (std::size_t i = 0; i < std::size_t(written); ++i) {
        chunk.near[i] = resampled_[2 * i];
        chunk.far[i] = resampled_[2 * i + 1];
    }
    return std::nullopt;
}

void EchoFreeSideStage::queue(Chunk chunk) {
    std::lock_guard lock(mutex_);
    if (error_ || chunk.near.empty()) {
        return;
    }
    queuedFrames_ += std::int64_t(chunk.near.size());
    queue_.push_back(std::move(chunk));
    if (queuedFrames_ > capacityFrames) {
        // Waiting here would hold up the capture of both sides.
        error_ = QStringLiteral("the echo stage fell behind the recording");
        queue_.clear();
        queuedFrames_ = 0;
    }
    changed_.notify_all();
}

std::optional<QString> EchoFreeSideStage::finish() {
    {
        std::unique_lock lock(mutex_);
        if (finishing_ || !thread_.joinable()) {
            finishing_ = true;
            return error_;
        }
    }
    // What the resampler still holds belongs to the end.
    Chunk last;
    if (auto error = resample(nullptr, 0, last)) {
        fail(*error);
    }
    queue(std::move(last));
    {
        std::unique_lock lock(mutex_);
        finishing_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return finished_; });
    }
    thread_.join();
    std::lock_guard lock(mutex_);
    if (error_ || cancellation_->delaysMs().empty()) {
        QFile::remove(path_);
    }
    return error_;
}

void EchoFreeSideStage::run() {
    std::unique_lock lock(mutex_);
    while (true) {
        changed_.wait(lock, [&] { return !queue_.empty() || finishing_ || error_; });
        if (queue_.empty() || error_) {
            break;
        }
        Chunk chunk = std::move(queue_.front());
        queue_.pop_front();
        queuedFrames_ -= std::int64_t(chunk.near.size());
        lock.unlock();
        auto error = write(cancellation_->push(chunk.near, chunk.far));
        lock.lock();
        if (error && !error_) {
            error_ = error;
        }
    }
    lock.unlock();
    // After an error the file goes: what it holds would lack the rest of the side.
    std::optional<QString> error = error_;
    if (!error) {
        error = write(cancellation_->finish());
    }
    const auto closing = writer_.finish();
    lock.lock();
    if (!error_) {
        error_ = error ? error : closing;
    }
    finished_ = true;
    changed_.notify_all();
}

std::optional<QString> EchoFreeSideStage::write(const std::vector<float>& cleaned) {
    return writer_.write(cleaned.data(), std::int64_t(cleaned.size()));
}

void EchoFreeSideStage::fail(const QString& error) {
    std::lock_guard lock(mutex_);
    if (!error_) {
        error_ = error;
    }
    changed_.notify_all();
}

} // namespace orvo
