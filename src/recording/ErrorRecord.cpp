#include "recording/ErrorRecord.h"

namespace orvo {

QString rawValue(ErrorRecord error) {
    switch (error) {
    case ErrorRecord::margeFail:
        return QStringLiteral("Error #354");
    case ErrorRecord::margeUnknow:
        return QStringLiteral("Error #355");
    case ErrorRecord::margeCancel:
        return QStringLiteral("Error #356");
    case ErrorRecord::noSpace:
        return QStringLiteral("Error #357");
    case ErrorRecord::saveFail:
        return QStringLiteral("Error #358");
    }
    return {};
}

QString caseName(ErrorRecord error) {
    switch (error) {
    case ErrorRecord::margeFail:
        return QStringLiteral("margeFail");
    case ErrorRecord::margeUnknow:
        return QStringLiteral("margeUnknow");
    case ErrorRecord::margeCancel:
        return QStringLiteral("margeCancel");
    case ErrorRecord::noSpace:
        return QStringLiteral("noSpace");
    case ErrorRecord::saveFail:
        return QStringLiteral("saveFail");
    }
    return {};
}

} // namespace orvo
