#include "recording/ErrorRecord.h"

namespace orvo {

QString rawValue(ErrorRecord error) {
    switch (error) {
    case ErrorRecord::margeFail:
        return QStringLiteral("Error #354");
    case ErrorRecord::margeUnknow:
        return QStringLiteral("Error #355");
    }
    return {};
}

} // namespace orvo
