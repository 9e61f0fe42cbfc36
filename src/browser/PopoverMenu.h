#pragma once

namespace orvo {

// The entries of a record's actions; the order is their ordinal. phoneNumber has no entry
// and is never sent.
enum class PopoverMenu {
    rename,
    shared,
    note,
    deleteRecord,
    phoneNumber,
    openFinder,
    recognizer,
    saveTranscript,
    copyTranscript
};

} // namespace orvo
