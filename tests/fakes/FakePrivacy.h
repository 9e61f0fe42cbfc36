#pragma once

#include <functional>
#include <thread>

#include "recording/PrivacyManager.h"

namespace orvo {

// Answers the permission questions as the test says; the answer to a request arrives like
// the system's, from another thread.
class FakePrivacy : public PrivacyManager {
public:
    bool microphone = true;
    bool answer = false;
    bool screen = true;
    int screenRequests = 0;

    bool checkMicrophonePrivacy() override { return microphone; }
    void requestMicrophonePrivacy(std::function<void(bool)> completedRequest) override {
        std::thread([completedRequest, granted = answer] { completedRequest(granted); }).join();
    }
    bool checkScreenCapture() override { return screen; }
    void requestScreenCapture() override { ++screenRequests; }
};

} // namespace orvo
