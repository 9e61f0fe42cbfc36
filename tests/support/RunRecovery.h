#pragma once

#include <optional>
#include <vector>

#include <QCoreApplication>
#include <QString>

#include "recording/SegmentRecovery.h"
#include "support/TestFiles.h"

namespace orvo::test {

// Recovers what recordings left in the storage tree, to the end, on this (main) thread: the
// names of the recordings it catalogued, or absent when it did not end within timeoutMs or
// still says it runs after it said it ended.
inline std::optional<std::vector<QString>> runRecovery(int timeoutMs) {
    std::vector<QString> recovered;
    bool done = false;
    SegmentRecovery recovery([&](const QString& name) { recovered.push_back(name); });
    recovery.start([&] { done = true; });
    const bool ended = waitUntil(
        [&] {
            QCoreApplication::processEvents();
            return done;
        },
        timeoutMs);
    return ended && !recovery.isRunning() ? std::optional(recovered) : std::nullopt;
}

} // namespace orvo::test
