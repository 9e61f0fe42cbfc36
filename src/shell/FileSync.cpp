#include "shell/FileSync.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>

namespace orvo {
namespace {

// Opened read-only for the sync alone; closed with its scope.
class SyncedDescriptor {
public:
    SyncedDescriptor(const QString& path, int flags)
        : fd_(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | flags)) {}
    ~SyncedDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    SyncedDescriptor(const SyncedDescriptor&) = delete;
    SyncedDescriptor& operator=(const SyncedDescriptor&) = delete;

    bool sync() const { return fd_ >= 0 && ::fsync(fd_) == 0; }

private:
    int fd_;
};

} // namespace

bool FileSync::toDisk(const QString& path) {
    return SyncedDescriptor(path, 0).sync() &&
           SyncedDescriptor(QFileInfo(path).absolutePath(), O_DIRECTORY).sync();
}

} // namespace orvo
