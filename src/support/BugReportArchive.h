#pragma once

#include <QString>
#include <QStringList>

namespace orvo {

// The ZIP archive that carries the technical log to support.
class BugReportArchive {
public:
    BugReportArchive() = delete;

    // Main thread; blocks while it packs. Writes a ZIP archive at archivePath holding each
    // of files under its own name, without folders, in the given order; an earlier file at
    // archivePath is replaced. Without files the archive is empty. False when the archive
    // could not be written; a file that cannot be read leaves it unwritten too.
    static bool create(const QString& archivePath, const QStringList& files);
};

} // namespace orvo
