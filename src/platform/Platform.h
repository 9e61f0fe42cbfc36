#pragma once

#include <memory>
#include <mutex>
#include <typeindex>
#include <unordered_map>

#include "platform/Port.h"

namespace orvo {

// Holds one backend per port. The program installs its real backends once in main();
// a test installs fakes. Any thread may look a port up.
class Platform {
public:
    static Platform& shared();

    // Main thread, before the backend is used; replaces an earlier backend of the port.
    template <class P> void install(std::unique_ptr<P> backend) {
        store(typeid(P), std::move(backend));
    }

    // Any thread. nullptr when no backend of the port is installed.
    template <class P> P* find() const { return static_cast<P*>(lookup(typeid(P))); }

    // Any thread. A missing backend is a wiring fault of the program: stops it.
    template <class P> P& get() const {
        auto* port = find<P>();
        if (port == nullptr) {
            missing(typeid(P).name());
        }
        return *port;
    }

    // Tests: forget every backend.
    void clear();

private:
    Port* lookup(std::type_index type) const;
    void store(std::type_index type, std::unique_ptr<Port> backend);
    [[noreturn]] static void missing(const char* portName);

    mutable std::mutex mutex_; // guards ports_
    std::unordered_map<std::type_index, std::unique_ptr<Port>> ports_;
};

} // namespace orvo
