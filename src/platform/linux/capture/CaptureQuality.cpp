#include "platform/linux/capture/CaptureQuality.h"

namespace orvo {

CaptureQuality captureQuality(SessionPreset preset) {
    switch (preset) {
    case SessionPreset::low:
        return {64000, 10, 30};
    case SessionPreset::medium:
        return {128000, 15, 26};
    case SessionPreset::high:
        return {192000, 30, 22};
    }
    return {64000, 10, 30};
}

} // namespace orvo
