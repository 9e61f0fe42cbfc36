#include "control/RecordingTarget.h"

#include <algorithm>

namespace orvo {

std::optional<AudioCaptureDevice> microphoneForScreen(const std::vector<RecordingTarget>& targets,
                                                      const QString& wanted) {
    auto found = std::find_if(targets.begin(), targets.end(), [&](const RecordingTarget& t) {
        return t.device && t.device->localizedName == wanted;
    });
    if (found == targets.end()) {
        found = std::find_if(targets.begin(), targets.end(), [](const RecordingTarget& t) {
            return t.recordType == RecordType::audio;
        });
    }
    return found != targets.end() ? found->device : std::nullopt;
}

int screenPosition(const std::vector<RecordingTarget>& targets, std::optional<int> selected) {
    int position = 0;
    for (int index = 0; index < int(targets.size()); ++index) {
        if (targets[index].recordType != RecordType::video) {
            continue;
        }
        if (selected == index) {
            return position;
        }
        ++position;
    }
    return 0;
}

} // namespace orvo
