#include "store/RecordFields.h"

namespace orvo {

std::optional<int> recordFieldIndex(const QString& name) {
    for (int i = 0; i < fieldCount; ++i) {
        if (name == QLatin1String(recordFields[i].name)) {
            return i;
        }
    }
    return std::nullopt;
}

bool isTextField(int field) {
    const FieldKind kind = recordFields[field].kind;
    return kind == FieldKind::text || kind == FieldKind::optionalText;
}

QString foldedColumnName(int field) {
    return QString("folded_") + recordFields[field].name;
}

} // namespace orvo
