#pragma once

#include <atomic>
#include <optional>
#include <vector>

#include <QString>

#include "platform/MediaComposition.h"
#include "platform/linux/media/FFmpegHandles.h"

namespace orvo {

// Copies the packets of composition segments unchanged into one file: one output stream per
// composition track, each segment shifted to its start.
class PassthroughCopier {
public:
    struct Input {
        MediaCompositionSegment segment;
        double startSeconds = 0.0; // where the segment begins in the result
        int track = 0;             // composition track index
    };
    // What the result says of a composition track.
    struct Track {
        QString title; // empty: none
        bool enabled = true;
    };

    // Blocks; the error when the copy could not be written. Stops early when cancelled.
    static std::optional<QString> copy(const std::vector<Input>& inputs,
                                       const std::vector<Track>& tracks, const QString& path,
                                       const char* muxer, const std::atomic<bool>& cancelled,
                                       const ffmpeg::FileTags& tags = {});
};

} // namespace orvo
