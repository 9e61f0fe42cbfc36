#include "recording/RecordingSpace.h"

#include "platform/FileAttributes.h"
#include "platform/Platform.h"

namespace orvo {
namespace {

std::int64_t audioBitsPerSecond(SessionPreset preset) {
    switch (preset) {
    case SessionPreset::medium:
        return 128000;
    case SessionPreset::high:
        return 192000;
    case SessionPreset::low:
        break;
    }
    return 64000;
}

// Screen video varies with what is shown; these are generous for office content.
std::int64_t videoBytesPerSecond(SessionPreset preset) {
    switch (preset) {
    case SessionPreset::medium:
        return 400000;
    case SessionPreset::high:
        return 1000000;
    case SessionPreset::low:
        break;
    }
    return 150000;
}

} // namespace

std::int64_t RecordingSpace::bytesPerSecond(bool isVideo, SessionPreset preset) {
    const std::int64_t audio = 3 * audioBitsPerSecond(preset) / 8;
    return isVideo ? audio + videoBytesPerSecond(preset) : audio;
}

std::int64_t RecordingSpace::neededToStart(bool isVideo, SessionPreset preset) {
    return startSeconds * bytesPerSecond(isVideo, preset);
}

bool RecordingSpace::mustStop(std::int64_t availableBytes, std::int64_t recordedBytes, bool isVideo,
                              SessionPreset preset) {
    const std::int64_t reserve =
        recordedBytes + reserveSeconds * bytesPerSecond(isVideo, preset) + reserveBytes;
    return availableBytes < reserve;
}

std::int64_t RecordingSpace::neededToMerge(std::int64_t segmentBytes) {
    return segmentBytes + mergeMarginBytes;
}

std::optional<std::int64_t> RecordingSpace::availableAt(const QString& folder) {
    const auto* attributes = Platform::shared().find<FileAttributes>();
    return attributes ? attributes->availableBytes(folder) : std::nullopt;
}

} // namespace orvo
