#pragma once

#include <QString>

#include "platform/linux/sound/PulseRecordStream.h"
#include "platform/linux/sound/PulseSession.h"

namespace orvo {

// Reads one source and drops what it reads, so that the source keeps running. A sound server
// gives an idle source's first reader its audio late (PulseAudio: up to two seconds, the
// block its monitor was last rendered in); one more reader of a running source gets it at once.
class PulseSourceKeeper {
public:
    // Blocks until the source is read or cannot be.
    explicit PulseSourceKeeper(const QString& sourceName);
    ~PulseSourceKeeper();
    PulseSourceKeeper(const PulseSourceKeeper&) = delete;
    PulseSourceKeeper& operator=(const PulseSourceKeeper&) = delete;
    PulseSourceKeeper(PulseSourceKeeper&&) = delete;
    PulseSourceKeeper& operator=(PulseSourceKeeper&&) = delete;

    bool reading() const { return reading_; }

private:
    bool connect(const QString& sourceName);

    PulseSession session_;
    PulseStream stream_;
    bool reading_ = false;
};

} // namespace orvo
