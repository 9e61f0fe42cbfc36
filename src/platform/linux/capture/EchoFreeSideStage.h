#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include <QString>

#include "platform/EchoCanceller.h"
#include "platform/linux/capture/AacSegmentWriter.h"
#include "platform/linux/capture/BoundedWorker.h"
#include "platform/linux/media/FFmpegHandles.h"

namespace orvo {

// The near side of a call written again while it is recorded, without the far side's echo:
// both sides, as raw as the capture has them, brought to the canceller's rate, cancelled on a
// thread of its own and only then encoded, as speech. Echo taken out of a side already coded
// leaves the coding noise of the echo behind, which no canceller can predict. Never holds up
// the capture: a stage that falls too far behind gives up, and the recording keeps its side
// as recorded. Used by one thread at a time.
class EchoFreeSideStage {
public:
    static constexpr int rate = 16000; // what the canceller is given
    // How far the canceller may fall behind: it works a stretch of half a minute at a time.
    static constexpr std::int64_t capacityFrames = 60 * rate;

    // The stage writing path, which begins on the recording clock at the given start; absent,
    // with the error, when the canceller takes no such rate or the file cannot be started.
    static std::unique_ptr<EchoFreeSideStage> open(const QString& path, EchoCanceller& canceller,
                                                   std::int64_t startEpochMicroseconds,
                                                   QString* error);
    // Drops what is not written yet and the file.
    ~EchoFreeSideStage();
    struct Token; // that only open makes a stage
    EchoFreeSideStage(const Token&, QString path, std::unique_ptr<EchoCancellation> cancellation);
    EchoFreeSideStage(const EchoFreeSideStage&) = delete;
    EchoFreeSideStage& operator=(const EchoFreeSideStage&) = delete;

    // The next frames of both sides, interleaved stereo at AacSegmentWriter::sampleRate, as
    // many of each. Returns at once. The stage's error so far, which ends it.
    std::optional<QString> add(const float* near, const float* far, std::int64_t frames);
    // Cancels and writes the rest and closes the file. The file is removed on an error, and
    // when no echo was heard (headphones): the side is then as it was recorded.
    std::optional<QString> finish();

private:
    std::optional<QString> openResampler();
    std::optional<QString> queue(const float* pairs, std::int64_t frames);
    std::optional<QString> cancel(const float* pairs, std::int64_t frames);
    std::optional<QString> close(bool failed);
    std::optional<QString> write(const std::vector<float>& cleaned);
    void fail(const QString& error);

    const QString path_;
    ffmpeg::Resampler resampler_;  // the caller's thread: both sides, as a pair, to rate
    std::vector<float> pairs_;     // the caller's thread
    std::vector<float> resampled_; // the caller's thread
    AacSegmentWriter writer_;      // the stage's thread once it runs
    std::unique_ptr<EchoCancellation> cancellation_; // the stage's thread
    std::vector<float> near_;                        // the stage's thread
    std::vector<float> far_;                         // the stage's thread
    // Set once, when opened; last: its thread uses the rest.
    std::optional<BoundedWorker> worker_;
};

} // namespace orvo
