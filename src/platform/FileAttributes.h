#pragma once

#include <cstdint>
#include <optional>

#include <QDateTime>
#include <QString>

#include "platform/Port.h"

namespace orvo {

// What the program needs to know about files beyond their contents.
class FileAttributes : public Port {
public:
    // Any thread; does not block beyond one file-system query.
    // Absent when the file does not exist or its file system keeps no creation time.
    virtual std::optional<QDateTime> creationDate(const QString& path) const = 0;
    // Any thread; does not block beyond one file-system query. Bytes that an unprivileged
    // writer can still put on the file system holding path; absent when it cannot be asked.
    virtual std::optional<std::int64_t> availableBytes(const QString& path) const = 0;
};

} // namespace orvo
