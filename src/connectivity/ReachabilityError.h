#pragma once

#include <cstdint>
#include <stdexcept>

#include <QString>

namespace orvo {

// Why a network monitor could not be made or started, with the system's error code.
class ReachabilityError : public std::runtime_error {
public:
    enum class Kind {
        failedToCreateWithAddress,
        failedToCreateWithHostname,
        unableToSetCallback,
        unableToSetDispatchQueue,
        unableToGetFlags,
    };

    // payload: the address or host name for the creation failures, else empty.
    ReachabilityError(Kind kind, std::int32_t code, const QString& payload = QString());

    Kind kind() const { return kind_; }
    std::int32_t code() const { return code_; }
    const QString& payload() const { return payload_; }
    QString localizedDescription() const;

private:
    Kind kind_;
    std::int32_t code_;
    QString payload_;
};

} // namespace orvo
