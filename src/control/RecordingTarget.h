#pragma once

#include <optional>
#include <vector>

#include <QString>

#include "platform/AudioHardware.h"
#include "store/RecordType.h"

namespace orvo {

// A microphone or a screen that a recording can be made from.
struct RecordingTarget {
    std::optional<AudioCaptureDevice> device;
    RecordType recordType;
    QString nameDevice;
};

// The microphone a screen recording records with: the one named wanted, else the first listed.
std::optional<AudioCaptureDevice> microphoneForScreen(const std::vector<RecordingTarget>& targets,
                                                      const QString& wanted);
// Which of the screens (counted among the screen targets only) the selected target is; 0
// when it is none of them.
int screenPosition(const std::vector<RecordingTarget>& targets, std::optional<int> selected);

} // namespace orvo
