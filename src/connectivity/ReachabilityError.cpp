#include "connectivity/ReachabilityError.h"

#include <cstring>

namespace orvo {
namespace {

QString kindName(ReachabilityError::Kind kind) {
    switch (kind) {
    case ReachabilityError::Kind::failedToCreateWithAddress:
        return QStringLiteral("failedToCreateWithAddress");
    case ReachabilityError::Kind::failedToCreateWithHostname:
        return QStringLiteral("failedToCreateWithHostname");
    case ReachabilityError::Kind::unableToSetCallback:
        return QStringLiteral("unableToSetCallback");
    case ReachabilityError::Kind::unableToSetDispatchQueue:
        return QStringLiteral("unableToSetDispatchQueue");
    case ReachabilityError::Kind::unableToGetFlags:
        return QStringLiteral("unableToGetFlags");
    }
    return {};
}

QString describe(ReachabilityError::Kind kind, std::int32_t code, const QString& payload) {
    QString text = kindName(kind);
    if (!payload.isEmpty()) {
        text += " (" + payload + ")";
    }
    return text + ": " + QString::fromLocal8Bit(std::strerror(code)) + " (" +
           QString::number(code) + ")";
}

} // namespace

ReachabilityError::ReachabilityError(Kind kind, std::int32_t code, const QString& payload)
    : std::runtime_error(describe(kind, code, payload).toStdString()), kind_(kind), code_(code),
      payload_(payload) {}

QString ReachabilityError::localizedDescription() const {
    return QString::fromStdString(what());
}

} // namespace orvo
