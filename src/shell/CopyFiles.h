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
    // Folders it creates are the owner's only.
    static void checkFilesAndCopy();
    // Takes the group's and others' rights from everything in the storage tree, whoever made
    // it: a tree made under a permissive umask is readable by all. Caller's thread; failures
    // go to the console.
    static void makeTreePrivate();
};

} // namespace orvo
