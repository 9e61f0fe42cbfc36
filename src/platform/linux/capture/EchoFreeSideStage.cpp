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
    stage->worker_.emplace(
        2, capacityFrames,
        // Waiting here would hold up the capture of both sides.
        BoundedWorker::WhenFull::giveUp(QStringLiteral("the echo stage fell behind the recording")),
        [raw = stage.get()](const float* pairs, std::int64_t frames) {
            return raw->cancel(pairs, frames);
        },
        [raw = stage.get()](bool failed) { return raw->close(failed); });
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
    int result = 0;
    resampler_ = ffmpeg::makeResampler({&stereo, AV_SAMPLE_FMT_FLT, AacSegmentWriter::sampleRate},
                                       {&stereo, AV_SAMPLE_FMT_FLT, rate}, result);
    if (!resampler_) {
        return QStringLiteral("cannot convert the audio: %1").arg(ffmpeg::errorText(result));
    }
    return std::nullopt;
}

std::optional<QString> EchoFreeSideStage::add(const float* near, const float* far,
                                              std::int64_t frames) {
    if (auto error = worker_->error(); error || worker_->finishing()) {
        return error;
    }
    // Each side as one channel of a pair, so that one resampler keeps them in step.
    pairs_.resize(std::size_t(frames) * 2);
    for (std::size_t i = 0; i < std::size_t(frames); ++i) {
        pairs_[2 * i] = (near[2 * i] + near[2 * i + 1]) * 0.5f;
        pairs_[2 * i + 1] = (far[2 * i] + far[2 * i + 1]) * 0.5f;
    }
    return queue(pairs_.data(), frames);
}

std::optional<QString> EchoFreeSideStage::queue(const float* pairs, std::int64_t frames) {
    resampled_.clear();
    if (auto error = ffmpeg::appendConverted(resampler_.get(), pairs, frames, 2, resampled_)) {
        fail(*error);
        return error;
    }
    return worker_->push(resampled_.data(), std::int64_t(resampled_.size() / 2));
}

std::optional<QString> EchoFreeSideStage::finish() {
    if (!worker_) {
        return std::nullopt;
    }
    if (worker_->finishing()) {
        return worker_->error();
    }
    // What the resampler still holds belongs to the end.
    queue(nullptr, 0);
    const auto error = worker_->finish();
    const bool noEcho = cancellation_->delaysMs().empty();
    if (!error && noEcho) {
        // Headphones, or an echo the delay search could not follow: there was nothing to take.
        qInfo("No echo of the other side found in %s: the copy without it goes", qPrintable(path_));
    }
    if (error || noEcho) {
        QFile::remove(path_);
    }
    return error;
}

std::optional<QString> EchoFreeSideStage::cancel(const float* pairs, std::int64_t frames) {
    near_.resize(std::size_t(frames));
    far_.resize(std::size_t(frames));
    for (std::size_t i = 0; i < std::size_t(frames); ++i) {
        near_[i] = pairs[2 * i];
        far_[i] = pairs[2 * i + 1];
    }
    return write(cancellation_->push(near_, far_));
}

std::optional<QString> EchoFreeSideStage::close(bool failed) {
    // After an error the file goes: what it holds would lack the rest of the side.
    const auto error = failed ? std::nullopt : write(cancellation_->finish());
    const auto closing = writer_.finish();
    return error ? error : closing;
}

std::optional<QString> EchoFreeSideStage::write(const std::vector<float>& cleaned) {
    return writer_.write(cleaned.data(), std::int64_t(cleaned.size()));
}

void EchoFreeSideStage::fail(const QString& error) {
    if (worker_) {
        worker_->fail(error);
    }
}

} // namespace orvo
