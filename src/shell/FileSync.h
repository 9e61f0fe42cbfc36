#pragma once

#include <QString>

namespace orvo {

// Puts a file on the disk for good: its data, and its name in its folder.
class FileSync {
public:
    FileSync() = delete;

    // Blocks until the disk has both (fsync of the file, then of its folder). False when
    // either cannot be opened or synced.
    static bool toDisk(const QString& path);
};

} // namespace orvo
