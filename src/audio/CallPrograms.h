#pragma once

#include <optional>
#include <vector>

#include <QString>
#include <QStringList>

#include "platform/AudioHardware.h"

namespace orvo {

// A program people make calls with, as its sound streams name themselves.
struct CallProgram {
    // A calling program is in a call once it both records and plays; a browser or a chat
    // program also records voice notes and dictation, so it must do both for longer.
    enum class Kind { calling, browserOrChat };

    QString name; // what the user reads: "Zoom"
    Kind kind = Kind::calling;
    QStringList applicationNames; // application.name of its streams
    QStringList binaries;         // application.process.binary
    // The messenger the records know it as, where the program is one of them.
    std::optional<QString> messenger;
    const char* seen = ""; // where its names were seen
};

// Every program of the table, in one place.
const std::vector<CallProgram>& callPrograms();
// The program whose name or binary the stream carries; nullptr for none.
const CallProgram* callProgramOf(const ProgramStream& stream);
// Whether the stream says it carries a conversation (media.role phone or communication).
bool isCallRole(const ProgramStream& stream);

} // namespace orvo
