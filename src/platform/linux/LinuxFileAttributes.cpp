#include "platform/linux/LinuxFileAttributes.h"

#include <fcntl.h>
#include <sys/stat.h>

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

} // namespace orvo
