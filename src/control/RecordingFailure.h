#pragma once

#include <QMetaType>
#include <QString>

namespace orvo {

// Why a recording did not start, or did not end as it should: the controller says what, in the
// user's words; the tray and the records window decide where it shows.
struct RecordingFailure {
    enum class Kind {
        microphonePrivacy, // the microphone was not allowed
        screenPrivacy,     // screen recording was not allowed
        diskSpaceAtStart,  // too little room to begin
        startFailed,       // the devices did not answer the start
        stopFailed,        // the recording ended without its file
        captureLost,       // a source went away for good; what came is kept
        diskAlmostFull,    // the recording was ended to keep the disk from filling
    };
    enum class Severity { informational, warning, critical };

    Kind kind = Kind::startFailed;
    QString title;
    QString message;
    Severity severity = Severity::critical;
};

} // namespace orvo

Q_DECLARE_METATYPE(orvo::RecordingFailure)
