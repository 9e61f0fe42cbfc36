#include "platform/Media.h"

namespace orvo {

QString exportStatusName(ExportStatus status) {
    switch (status) {
    case ExportStatus::unknown:
        return QStringLiteral("unknown");
    case ExportStatus::waiting:
        return QStringLiteral("waiting");
    case ExportStatus::exporting:
        return QStringLiteral("exporting");
    case ExportStatus::completed:
        return QStringLiteral("completed");
    case ExportStatus::failed:
        return QStringLiteral("failed");
    case ExportStatus::cancelled:
        return QStringLiteral("cancelled");
    }
    return QStringLiteral("unknown");
}

} // namespace orvo
