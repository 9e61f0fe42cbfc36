#pragma once

#include "platform/FileAttributes.h"

namespace orvo {

// Creation dates from statx birth times (file systems without them report none) and free
// space from statvfs.
class LinuxFileAttributes final : public FileAttributes {
public:
    std::optional<QDateTime> creationDate(const QString& path) const override;
    // statvfs: the blocks left to unprivileged users.
    std::optional<std::int64_t> availableBytes(const QString& path) const override;
};

} // namespace orvo
