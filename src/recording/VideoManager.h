#pragma once

#include <optional>

#include <QStringList>

#include "platform/Displays.h"

namespace orvo {

// The screens that can be recorded, by product name, for the tray's screen entries. Names and
// identifiers come from one list of screens, so entry N of screenNameDevices() is always the
// screen of screenDeviceID(N). A screen without a product name is in neither. Any thread.
class VideoManager {
public:
    VideoManager() = delete;

    static QStringList screenNameDevices();
    // Absent when screenCount is outside the list.
    static std::optional<DisplayID> screenDeviceID(int screenCount);
};

} // namespace orvo
