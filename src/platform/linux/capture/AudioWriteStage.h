#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include <QString>

#include "platform/linux/capture/BoundedWorker.h"

namespace orvo {

class AacSegmentWriter;

// Encodes and writes an opened segment on a thread of its own, behind a queue of up to
// capacityFrames: a disk that stops answering for a while (an NFS home, a USB disk spinning
// up) holds up this stage only, and the source goes on being read. Used by one thread.
class AudioWriteStage {
public:
    AudioWriteStage(std::unique_ptr<AacSegmentWriter> writer, std::int64_t capacityFrames);
    ~AudioWriteStage();
    AudioWriteStage(const AudioWriteStage&) = delete;
    AudioWriteStage& operator=(const AudioWriteStage&) = delete;

    // Queues interleaved stereo frames, waiting only while the queue is full. The stage's
    // first error so far, which ends the segment.
    std::optional<QString> write(const float* interleaved, std::int64_t frames);
    // Writes what is queued and closes the file; the first error of the whole segment.
    std::optional<QString> finish();

private:
    std::unique_ptr<AacSegmentWriter> writer_; // the stage's thread only
    BoundedWorker worker_; // last: its thread writes with the rest, and ends first
};

} // namespace orvo
