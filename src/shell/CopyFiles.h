#pragma once

#include <QStringList>

namespace orvo {

// Provisions the storage tree under API::homePath(): creates what is missing, never
// overwrites. Failures go to the console only.
class CopyFiles {
public:
    CopyFiles() = delete;

    // Parents before children.
    static const QStringList& arrayFolders();
    static const QStringList& arrayFiles();

    // Caller's thread; never fails towards the caller; safe to call any number of times.
    static void checkFilesAndCopy();
};

} // namespace orvo
