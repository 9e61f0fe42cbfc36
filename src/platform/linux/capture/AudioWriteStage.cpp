#include "platform/linux/capture/AudioWriteStage.h"

#include "platform/linux/capture/AacSegmentWriter.h"

namespace orvo {

AudioWriteStage::AudioWriteStage(std::unique_ptr<AacSegmentWriter> writer,
                                 std::int64_t capacityFrames)
    : writer_(std::move(writer)),
      worker_(
          AacSegmentWriter::channels, capacityFrames, BoundedWorker::WhenFull::wait(),
          [this](const float* interleaved, std::int64_t frames) {
              return writer_->write(interleaved, frames);
          },
          // Also after an error: the segment keeps what was written before it.
          [this](bool) { return writer_->finish(); }) {}

AudioWriteStage::~AudioWriteStage() = default;

std::optional<QString> AudioWriteStage::write(const float* interleaved, std::int64_t frames) {
    return worker_.push(interleaved, frames);
}

std::optional<QString> AudioWriteStage::finish() {
    return worker_.finish();
}

} // namespace orvo
