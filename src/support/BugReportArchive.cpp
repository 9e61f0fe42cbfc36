#include "support/BugReportArchive.h"

#include <memory>

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <zip.h>

namespace orvo {
namespace {

// Frees an archive that was not closed, leaving the file on disk as it was.
struct ZipDiscard {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};

// libzip writes no file for an archive without entries: this is the end-of-directory record
// that makes one.
bool writeEmptyArchive(const QString& archivePath) {
    const QByteArray endOfDirectory = QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0');
    QSaveFile file(archivePath);
    return file.open(QIODevice::WriteOnly) && file.write(endOfDirectory) == endOfDirectory.size() &&
           file.commit();
}

bool addFile(zip_t* archive, const QString& path) {
    // Length 0: the whole file, read when the archive is closed.
    zip_source_t* source = zip_source_file(archive, QFile::encodeName(path).constData(), 0, 0);
    if (source == nullptr) {
        return false;
    }
    const QByteArray name = QFileInfo(path).fileName().toUtf8();
    if (zip_file_add(archive, name.constData(), source, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8) < 0) {
        zip_source_free(source);
        return false;
    }
    return true;
}

} // namespace

bool BugReportArchive::create(const QString& archivePath, const QStringList& files) {
    if (files.isEmpty()) {
        return writeEmptyArchive(archivePath);
    }
    int error = 0;
    std::unique_ptr<zip_t, ZipDiscard> archive(
        zip_open(QFile::encodeName(archivePath).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error));
    if (!archive) {
        return false;
    }
    for (const QString& path : files) {
        if (!addFile(archive.get(), path)) {
            return false;
        }
    }
    // Closing writes the archive beside its place and renames it there; on failure it stays
    // open and the discard frees it.
    if (zip_close(archive.get()) != 0) {
        return false;
    }
    archive.release();
    return true;
}

} // namespace orvo
