#include "platform/linux/desktop/LinuxFileAttributes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace orvo {

std::optional<QDateTime> LinuxFileAttributes::creationDate(const QString& path) const {
    struct statx info {};
    const QByteArray native = path.toLocal8Bit();
    if (statx(AT_FDCWD, native.constData(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &info) != 0) {
        return std::nullopt;
    }
    if ((info.stx_mask & STATX_BTIME) == 0) {
        return std::nullopt;
    }
    const qint64 ms = qint64(info.stx_btime.tv_sec) * 1000 + info.stx_btime.tv_nsec / 1000000;
    return QDateTime::fromMSecsSinceEpoch(ms);
}

std::optional<std::int64_t> LinuxFileAttributes::availableBytes(const QString& path) const {
    struct statvfs info {};
    const QByteArray native = path.toLocal8Bit();
    if (statvfs(native.constData(), &info) != 0) {
        return std::nullopt;
    }
    return std::int64_t(info.f_bavail) * std::int64_t(info.f_frsize);
}

} // namespace orvo
