#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include <QByteArray>
#include <pulse/introspect.h>

#include "platform/AudioHardware.h"
#include "platform/linux/sound/PulseDeviceCache.h"
#include "platform/linux/sound/PulseSession.h"

namespace orvo {

// A lookup's answer: none at all when the server did not answer in time, which is not the
// same as "no such device".
template <class Record> struct PulseLookup {
    bool answered = false;
    std::optional<Record> record;
};

// The requests the port sends, each answered synchronously on one session.
class PulseRequests {
public:
    static constexpr char combineModule[] = "module-combine-sink";

    explicit PulseRequests(PulseSession& session) : session_(session) {}

    PulseLookup<PulseSinkRecord> sink(std::uint32_t index);
    PulseLookup<PulseSinkRecord> sink(const QByteArray& name);
    PulseLookup<PulseModuleRecord> module(std::uint32_t index);
    // The combined-output module that owns a sink; none for any other sink.
    PulseLookup<PulseModuleRecord> combineModuleOf(const PulseSinkRecord& sink);

    // start gets the callback and its data and sends a request answered by success or not;
    // audioStatusTimeout when no answer came.
    AudioStatus
    succeed(const std::function<pa_operation*(pa_context*, pa_context_success_cb_t, void*)>& start);
    // The index of the loaded module, or the status of the failure.
    std::pair<AudioStatus, std::uint32_t> loadModule(const char* name, const QByteArray& arguments);
    AudioStatus unloadModule(std::uint32_t index);
    // What a request that got no answer means: the server hung (timeout) or went away.
    AudioStatus noAnswerStatus() const;

private:
    PulseSession& session_;
};

} // namespace orvo
