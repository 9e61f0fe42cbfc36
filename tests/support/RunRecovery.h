#pragma once

#include <optional>
#include <utility>
#include <vector>

#include <QString>

#include "recording/SegmentRecovery.h"
#include "support/TestFiles.h"

namespace orvo::test {

// Recovers what recordings left in the storage tree, to the end, on this (main) thread: the
// names and file names of the recordings it catalogued, or absent when it did not end within
// timeoutMs or still says it runs after it said it ended.
inline std::optional<std::vector<std::pair<QString, QString>>> runRecovery(int timeoutMs) {
    std::vector<std::pair<QString, QString>> recovered;
    bool done = false;
    SegmentRecovery recovery([&](const QString& name, const QString& fileName) {
        recovered.emplace_back(name, fileName);
    });
    recovery.start([&] { done = true; });
    const bool ended = waitWithEvents([&] { return done; }, timeoutMs);
    return ended && !recovery.isRunning() ? std::optional(recovered) : std::nullopt;
}

} // namespace orvo::test
