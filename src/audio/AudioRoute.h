#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QString>

#include "platform/AudioHardware.h"

namespace orvo {

// Where a recording's sound goes: the user's output, our combined output of it and the driver
// (the default output while recording), and the other devices that the server keeps programs'
// streams on, each with a combined output of its own. Devices by name (UID), never by
// identifier: identifiers do not outlive a restart of the sound server and are given anew.
// A value owned by the one thread that does the device work; empty while idle.
struct AudioRoute {
    // A device that the server keeps some program's stream on, and our combined output of the
    // driver and that device, through which that stream is recorded and still heard there.
    struct Branch {
        QString deviceUID;
        QString aggregateUID;
    };
    // A stream this program moved, and the device it came from, to go back to at the end.
    struct MovedStream {
        std::uint32_t id = 0;
        QString fromUID;
    };

    QString userOutputUID; // where the user hears the call; the default output afterwards
    QString aggregateUID;  // our combined output of the driver and userOutputUID
    // The user's configured default output before ours became the default; absent where the
    // server keeps none.
    std::optional<ConfiguredDefaultOutput> configuredDefault;
    std::vector<Branch> branches;
    std::vector<MovedStream> moved;
    bool putBackLogged = false; // once per recording

    bool empty() const { return aggregateUID.isEmpty(); }
    // Resolved now; noAudioDevice when the device is gone.
    AudioDeviceID aggregateDevice() const;
    AudioDeviceID userOutputDevice() const;
    // Whether the output device is one of the route's combined outputs.
    bool carries(AudioDeviceID device) const;
};

} // namespace orvo
