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

} // namespace orvo
