#pragma once

#include <mutex>

#include "platform/Displays.h"

namespace orvo {

// Windows and screens set by the test; records which windows were captured.
class FakeDisplays final : public Displays {
public:
    void setWindows(std::optional<std::vector<OnScreenWindow>> windows) {
        std::lock_guard lock(mutex_);
        windows_ = std::move(windows);
    }
    void setScreens(std::vector<Screen> screens) {
        std::lock_guard lock(mutex_);
        screens_ = std::move(screens);
    }
    std::vector<std::uint32_t> captured() const {
        std::lock_guard lock(mutex_);
        return captured_;
    }

    std::optional<std::vector<OnScreenWindow>> onScreenWindows() override {
        std::lock_guard lock(mutex_);
        return windows_;
    }
    bool captureWindowImage(std::uint32_t windowNumber) override {
        std::lock_guard lock(mutex_);
        captured_.push_back(windowNumber);
        return true;
    }
    std::vector<Screen> screens() override {
        std::lock_guard lock(mutex_);
        return screens_;
    }
    std::optional<DisplayID> mainDisplayID() override {
        std::lock_guard lock(mutex_);
        return screens_.empty() ? std::nullopt : std::optional(screens_.front().displayID);
    }

private:
    mutable std::mutex mutex_; // guards every field below
    std::optional<std::vector<OnScreenWindow>> windows_;
    std::vector<Screen> screens_;
    std::vector<std::uint32_t> captured_;
};

} // namespace orvo
