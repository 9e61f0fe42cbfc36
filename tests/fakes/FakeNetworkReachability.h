#pragma once

#include <memory>
#include <mutex>
#include <optional>

#include "platform/NetworkReachability.h"

namespace orvo {

// A network that the test changes by hand. deliver() plays the system's callback on the
// calling thread; state() counts what the monitor asked of the target.
class FakeReachabilityTarget final : public ReachabilityTarget {
public:
    struct State {
        std::optional<ReachabilityFlags> flags = ReachabilityFlags{};
        std::int32_t error = 0;
        bool refuseCallback = false;
        bool refuseWatching = false;
        int callbacksInstalled = 0;
        bool watching = false;
        Callback callback;
    };

    explicit FakeReachabilityTarget(std::shared_ptr<State> state) : state_(std::move(state)) {}

    std::optional<ReachabilityFlags> flags() override {
        const std::lock_guard lock(mutex_);
        return state_->flags;
    }
    bool setCallback(Callback callback) override {
        const std::lock_guard lock(mutex_);
        if (callback && state_->refuseCallback) {
            return false;
        }
        state_->callbacksInstalled += callback ? 1 : 0;
        state_->callback = std::move(callback);
        return true;
    }
    bool setWatching(bool watching) override {
        const std::lock_guard lock(mutex_);
        if (watching && state_->refuseWatching) {
            return false;
        }
        state_->watching = watching;
        return true;
    }
    std::int32_t lastError() const override { return state_->error; }

private:
    std::mutex mutex_;
    std::shared_ptr<State> state_;
};

// Hands out targets that share one state, which the test keeps.
class FakeNetworkReachability final : public NetworkReachability {
public:
    std::shared_ptr<FakeReachabilityTarget::State> state =
        std::make_shared<FakeReachabilityTarget::State>();
    bool refuseTargets = false;

    std::unique_ptr<ReachabilityTarget> targetForAddress(const sockaddr_in&) override {
        return refuseTargets ? nullptr : std::make_unique<FakeReachabilityTarget>(state);
    }
    std::unique_ptr<ReachabilityTarget> targetForHostname(const QString&) override {
        return refuseTargets ? nullptr : std::make_unique<FakeReachabilityTarget>(state);
    }
    std::int32_t lastError() const override { return state->error; }

    // The system telling of new flags, as its thread would.
    void deliver(ReachabilityFlags flags) {
        state->flags = flags;
        if (state->callback) {
            state->callback(flags);
        }
    }
};

} // namespace orvo
