#pragma once

#include <QString>

namespace orvo {

// What the user must be told when the catalogue in use is not their file as it was: every
// earlier recording would otherwise seem gone, or the new ones would vanish unannounced.
struct OpeningNotice {
    // Where the recordings made from now on are kept.
    enum class Storage {
        // The catalogue file: a fresh one when the old one was moved aside.
        catalogue,
        // The pending file beside the catalogue, added to it at the next start that opens it.
        pendingFile,
        // Nowhere on disk: the records of this run are gone when the program ends.
        memory,
    };

    Storage storage = Storage::catalogue;
    // The unreadable catalogue's new name; empty when it was not moved.
    QString catalogueMovedTo;
    // The new name of a pending file that could not be read; empty when none was moved.
    QString pendingMovedTo;
    // Records kept in the pending file could not be added this time; they stay in it.
    bool pendingNotAdded = false;

    bool operator==(const OpeningNotice&) const = default;
};

} // namespace orvo
