#pragma once

#include <memory>

namespace orvo {

class ResultsState;
struct Observation;

// Keeps one observation of a live result running: the observation ends when the token is
// destroyed or invalidated. Move-only. Main thread only.
class NotificationToken {
public:
    NotificationToken() = default;
    NotificationToken(NotificationToken&& other) noexcept = default;
    NotificationToken& operator=(NotificationToken&& other) noexcept;
    NotificationToken(const NotificationToken&) = delete;
    NotificationToken& operator=(const NotificationToken&) = delete;
    ~NotificationToken();

    void invalidate();
    bool isActive() const { return observation_ != nullptr; }

private:
    friend class Results;
    NotificationToken(std::shared_ptr<ResultsState> state, std::shared_ptr<Observation> observation)
        : state_(std::move(state)), observation_(std::move(observation)) {}

    std::shared_ptr<ResultsState> state_;
    std::shared_ptr<Observation> observation_;
};

} // namespace orvo
