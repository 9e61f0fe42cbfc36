#include "control/DeviceWork.h"

#include <QPointer>

#include "audio/AudioManager.h"
#include "platform/MainThread.h"

namespace orvo {

DeviceWork::DeviceWork() {
    thread_.setMaxThreadCount(1);
    // A combined output of ours left by a killed run would keep the user's sound from them.
    run(
        [warm = warmStart_] {
            AudioManager::removeLeftoverAggregateDevices();
            warm->prepare();
        },
        [] {});
}

DeviceWork::~DeviceWork() {
    thread_.waitForDone();
}

void DeviceWork::run(std::function<void()> work, std::function<void()> then) {
    QPointer<DeviceWork> self(this);
    thread_.start([self, work = std::move(work), then = std::move(then)] {
        work();
        dispatchToMain([self, then] {
            if (self != nullptr) {
                then();
            }
        });
    });
}

bool DeviceWork::isBusy() const {
    return thread_.activeThreadCount() > 0;
}

void DeviceWork::restoreOutput(std::function<void()> then) {
    run(
        [warm = warmStart_, route = route_, ready = !released_] {
            AudioManager::restoreRoute(*route);
            // The next start finds the devices ready; a program on its way out leaves none.
            if (ready) {
                warm->prepare();
            } else {
                warm->release();
            }
        },
        std::move(then));
}

void DeviceWork::follow(
    bool recording, std::function<void(int unrouted, std::optional<OutputKind> userOutput)> then) {
    auto unrouted = std::make_shared<int>(0);
    auto userOutput = std::make_shared<std::optional<OutputKind>>();
    run(
        [recording, unrouted, userOutput, warm = warmStart_, route = route_] {
            if (recording) {
                AudioManager::followDefaultOutput(*route);
                *unrouted = AudioManager::routeStreams(*route);
                *userOutput = AudioManager::userOutputKind(*route);
            } else if (route->empty()) {
                warm->prepare();
            }
        },
        [unrouted, userOutput, then = std::move(then)] { then(*unrouted, *userOutput); });
}

void DeviceWork::release(std::function<void()> then) {
    released_ = true;
    run([warm = warmStart_] { warm->release(); }, std::move(then));
}

void DeviceWork::keepReady() {
    released_ = false;
    // During a recording what is ready is its route, which stays as it is.
    run(
        [warm = warmStart_, route = route_] {
            if (route->empty()) {
                warm->prepare();
            }
        },
        [] {});
}

} // namespace orvo
