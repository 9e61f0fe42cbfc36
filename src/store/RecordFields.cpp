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

QString foldedColumnName(int field) {
    return QString("folded_") + recordFields[field].name;
}

} // namespace orvo
