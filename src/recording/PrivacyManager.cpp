#include "recording/PrivacyManager.h"

#include <algorithm>

#include <QRandomGenerator>

#include "platform/Displays.h"
#include "platform/Platform.h"
#include "shell/Logging.h"

namespace orvo {

PrivacyManager& PrivacyManager::shared() {
    static PrivacyManager instance;
    return instance;
}

bool PrivacyManager::checkMicrophonePrivacy() {
    return true;
}

void PrivacyManager::requestMicrophonePrivacy(std::function<void(bool)> completedRequest) {
    if (completedRequest) {
        completedRequest(true);
    }
}

bool PrivacyManager::checkScreenCapture() {
    auto* displays = Platform::shared().find<Displays>();
    if (displays == nullptr) {
        return false;
    }
    // X11 asks no permission: every client reads every window's title. A window without one
    // (a dock, a desktop widget) says nothing, so the answer is whether the display answers.
    return displays->onScreenWindows().has_value();
}

void PrivacyManager::requestScreenCapture() {
    auto* displays = Platform::shared().find<Displays>();
    if (displays == nullptr) {
        return;
    }
    const auto windows = displays->onScreenWindows();
    if (!windows || windows->empty()) {
        return;
    }
    const auto pick = QRandomGenerator::global()->bounded(static_cast<quint32>(windows->size()));
    displays->captureWindowImage((*windows)[pick].windowNumber);
}

void PrivacyManager::requestRecognizer(std::function<void(bool)> complitedRequest) {
    // Offline recognition on this platform asks nobody.
    completeRecognizerRequest(authorized, complitedRequest);
}

void PrivacyManager::completeRecognizerRequest(int status,
                                               const std::function<void(bool)>& complitedRequest) {
    switch (status) {
    case authorized:
        if (complitedRequest) {
            complitedRequest(true);
        }
        return;
    case notDetermined:
    case denied:
    case restricted:
        Logging::write("Request recognizer authorization " + QString::number(status),
                       EventLoging::info);
        break;
    default:
        break;
    }
    if (complitedRequest) {
        complitedRequest(false);
    }
}

} // namespace orvo
