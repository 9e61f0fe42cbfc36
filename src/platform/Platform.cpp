#include "platform/Platform.h"

#include <cstdio>
#include <cstdlib>

namespace orvo {

Platform& Platform::shared() {
    static Platform platform;
    return platform;
}

void Platform::clear() {
    std::lock_guard lock(mutex_);
    ports_.clear();
}

Port* Platform::lookup(std::type_index type) const {
    std::lock_guard lock(mutex_);
    auto it = ports_.find(type);
    return it == ports_.end() ? nullptr : it->second.get();
}

void Platform::store(std::type_index type, std::unique_ptr<Port> backend) {
    std::lock_guard lock(mutex_);
    ports_[type] = std::move(backend);
}

void Platform::missing(const char* portName) {
    std::fprintf(stderr, "No backend installed for platform port %s\n", portName);
    std::abort();
}

} // namespace orvo
