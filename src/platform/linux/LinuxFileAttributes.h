#pragma once

#include "platform/FileAttributes.h"

namespace orvo {

// Creation dates from statx birth times; file systems without them report none.
class LinuxFileAttributes final : public FileAttributes {
public:
    std::optional<QDateTime> creationDate(const QString& path) const override;
};

} // namespace orvo
