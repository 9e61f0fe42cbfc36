#pragma once

#include <atomic>
#include <optional>

#include <QString>

#include "platform/Media.h"

namespace orvo {

// Carries a file from another program into the catalogue's formats: its sound decoded and
// encoded as AAC (whatever it was: the player and the recogniser read the same kind as our
// recordings), a video's picture copied unchanged into a .mov when that container can carry
// it, else the file is taken as sound.
class MediaImporter {
public:
    static ImportPlan plan(const QString& source);
    // Blocks; written beside destination first and moved into place whole.
    static std::optional<QString> import(const QString& source, const QString& destination,
                                         const std::atomic<bool>& cancelled);
};

} // namespace orvo
