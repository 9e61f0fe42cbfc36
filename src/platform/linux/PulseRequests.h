#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include <QByteArray>
#include <pulse/context.h>
#include <pulse/volume.h>

#include "platform/AudioHardware.h"
#include "platform/linux/PulseDeviceCache.h"

namespace orvo {

class PulseSession;

// The requests that change the server, each answered synchronously on a session the caller
// holds; absent (or a failure status) when the server gave no answer.
class PulseRequests {
public:
    static constexpr char combineModule[] = "module-combine-sink";

    explicit PulseRequests(PulseSession& session) : session_(session) {}

    std::optional<PulseSinkRecord> sink(std::uint32_t index);
    std::optional<PulseSinkRecord> sink(const QByteArray& name);
    std::optional<PulseModuleRecord> module(std::uint32_t index);
    // start gets the callback and its data and sends a request answered by success or not.
    AudioStatus
    succeed(const std::function<pa_operation*(pa_context*, pa_context_success_cb_t, void*)>& start);
    std::optional<std::uint32_t> loadModule(const char* name, const QByteArray& arguments);
    AudioStatus unloadModule(std::uint32_t index);
    AudioStatus setSinkVolume(std::uint32_t index, const pa_cvolume& volume);
    // The module-combine-sink instance that made the sink; absent for any other sink.
    std::optional<PulseModuleRecord> combineModuleOf(const PulseSinkRecord& sink);

private:
    PulseSession& session_;
};

} // namespace orvo
