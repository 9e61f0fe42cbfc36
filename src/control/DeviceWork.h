#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QObject>
#include <QThreadPool>

#include "audio/AudioRoute.h"
#include "control/WarmStart.h"

namespace orvo {

// The recording control's work on the sound server, one job after another on a thread of its
// own, so that a hung server never holds the main thread: the devices of a start, giving the
// output back, following the user's output, and while idle keeping the next start ready.
// Main thread.
class DeviceWork : public QObject {
public:
    // Starts with the start-up's job: our combined outputs that a killed run left go, then the
    // next start is made ready.
    DeviceWork();
    ~DeviceWork() override;
    DeviceWork(const DeviceWork&) = delete;
    DeviceWork& operator=(const DeviceWork&) = delete;

    // work runs on the device thread after the jobs before it; then on the main thread, unless
    // this object is gone by then.
    void run(std::function<void()> work, std::function<void()> then);
    bool isBusy() const;
    // The recording's route, for jobs only: they run on the device thread, one at a time.
    const std::shared_ptr<AudioRoute>& route() const { return route_; }
    // Gives the output back, the streams moved into the route too, and removes the route's
    // combined outputs; the next start is made ready, unless released.
    void restoreOutput(std::function<void()> then);
    // The devices changed: while recording the combined output follows the user's output and
    // every program's stream is brought into the route; while idle the next start is made ready
    // for the devices as they are now. then gets how many playing streams stay outside, and
    // while recording what the user listens through now.
    void follow(bool recording,
                std::function<void(int unrouted, std::optional<OutputKind> userOutput)> then);
    // Removes what was made ahead of a start and makes nothing more until keepReady().
    void release(std::function<void()> then);
    void keepReady();
    bool isReleased() const { return released_; }

private:
    // Shared with the jobs, which may still run when this object goes.
    std::shared_ptr<WarmStart> warmStart_ = std::make_shared<WarmStart>();
    std::shared_ptr<AudioRoute> route_ = std::make_shared<AudioRoute>();
    bool released_ = false;
    // Last: its destruction waits for the jobs.
    QThreadPool thread_;
};

} // namespace orvo
