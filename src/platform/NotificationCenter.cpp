#include "platform/NotificationCenter.h"

#include <utility>
#include <vector>

namespace orvo {

NotificationCenter::Observation::Observation(Observation&& other) noexcept
    : center_(std::exchange(other.center_, nullptr)), id_(std::exchange(other.id_, 0)) {}

NotificationCenter::Observation&
NotificationCenter::Observation::operator=(Observation&& other) noexcept {
    if (this != &other) {
        reset();
        center_ = std::exchange(other.center_, nullptr);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

void NotificationCenter::Observation::reset() {
    if (center_ != nullptr) {
        center_->remove(id_);
        center_ = nullptr;
    }
}

NotificationCenter& NotificationCenter::shared() {
    static NotificationCenter center;
    return center;
}

NotificationCenter::Observation
NotificationCenter::addObserver(const QString& name, const void* object, Handler handler) {
    std::lock_guard lock(mutex_);
    const auto id = nextId_++;
    entries_.emplace(id, Entry{name, object, std::make_shared<Handler>(std::move(handler))});
    return Observation(this, id);
}

void NotificationCenter::post(const QString& name, const void* object,
                              const QVariantMap& userInfo) {
    // Handlers run outside the lock so that they may observe or post themselves.
    std::vector<std::shared_ptr<Handler>> handlers;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, entry] : entries_) {
            if (entry.name == name && (entry.object == nullptr || entry.object == object)) {
                handlers.push_back(entry.handler);
            }
        }
    }
    const Notification notification{name, object, userInfo};
    for (const auto& handler : handlers) {
        (*handler)(notification);
    }
}

void NotificationCenter::remove(std::uint64_t id) {
    std::lock_guard lock(mutex_);
    entries_.erase(id);
}

} // namespace orvo
