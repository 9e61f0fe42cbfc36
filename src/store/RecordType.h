#pragma once

#include <optional>

#include <QString>

namespace orvo {

// Whether a record is a sound recording or a screen recording; records store the text value.
enum class RecordType { audio, video };

// "Audio" or "Video".
QString recordTypeText(RecordType type);
// The case of exactly "Audio" or "Video"; nothing for any other text.
std::optional<RecordType> recordTypeFromText(const QString& text);

} // namespace orvo
