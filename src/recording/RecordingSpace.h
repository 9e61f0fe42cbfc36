#pragma once

#include <cstdint>
#include <optional>

#include <QString>

#include "platform/SessionPreset.h"

namespace orvo {

// How much disk a recording needs, from the bit rates of its quality: enough for ten minutes
// before a start, a reserve for the merge while it records, and room for the merged file
// before the merge. Any thread.
class RecordingSpace {
public:
    RecordingSpace() = delete;

    static constexpr int startSeconds = 600;
    // While recording, the segments may not grow into the room that the merge needs.
    static constexpr int reserveSeconds = 30;
    static constexpr std::int64_t reserveBytes = 1000000;
    static constexpr std::int64_t mergeMarginBytes = 256000;

    // The three audio segments (each side and the mix), and the screen for a screen recording.
    static std::int64_t bytesPerSecond(bool isVideo, SessionPreset preset);
    static std::int64_t neededToStart(bool isVideo, SessionPreset preset);
    // Whether a recording that has written recordedBytes must end now, so that its merged
    // file (about as large again) still fits.
    static bool mustStop(std::int64_t availableBytes, std::int64_t recordedBytes, bool isVideo,
                         SessionPreset preset);
    static std::int64_t neededToMerge(std::int64_t segmentBytes);
    // Free bytes on the file system of folder; absent when the platform cannot tell.
    static std::optional<std::int64_t> availableAt(const QString& folder);
};

} // namespace orvo
