#include "store/NotificationToken.h"

#include <algorithm>

#include "store/ResultsState.h"

namespace orvo {

NotificationToken& NotificationToken::operator=(NotificationToken&& other) noexcept {
    if (this != &other) {
        invalidate();
        state_ = std::move(other.state_);
        observation_ = std::move(other.observation_);
    }
    return *this;
}

NotificationToken::~NotificationToken() {
    invalidate();
}

void NotificationToken::invalidate() {
    if (observation_ == nullptr) {
        return;
    }
    observation_->active = false;
    auto& list = state_->observations;
    list.erase(std::remove(list.begin(), list.end(), observation_), list.end());
    observation_.reset();
    state_.reset();
}

} // namespace orvo
