#include "store/RecordType.h"

namespace orvo {

QString recordTypeText(RecordType type) {
    return type == RecordType::video ? QStringLiteral("Video") : QStringLiteral("Audio");
}

std::optional<RecordType> recordTypeFromText(const QString& text) {
    if (text == QLatin1String("Audio")) {
        return RecordType::audio;
    }
    if (text == QLatin1String("Video")) {
        return RecordType::video;
    }
    return std::nullopt;
}

} // namespace orvo
