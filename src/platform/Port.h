#pragma once

namespace orvo {

// Base of every platform port, so that the registry can own backends of any port.
class Port {
public:
    virtual ~Port() = default;
    Port() = default;
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;
};

} // namespace orvo
