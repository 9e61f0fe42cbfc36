#pragma once

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
};

} // namespace orvo
