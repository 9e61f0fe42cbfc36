#include "platform/linux/speech/RetiredWorkers.h"

namespace orvo {

void RetiredWorkers::add(std::thread worker, std::shared_ptr<const std::atomic<bool>> done) {
    std::lock_guard lock(mutex_);
    workers_.emplace_back(std::move(worker), std::move(done));
}

void RetiredWorkers::join(bool all) {
    std::lock_guard lock(mutex_);
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (all || it->second->load()) {
            it->first.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace orvo
