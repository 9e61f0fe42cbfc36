#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QString>
#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/thread-mainloop.h>
#include <pulse/volume.h>

#include "platform/OutputKind.h"

namespace orvo {

struct PulseSinkRecord {
    std::uint32_t index = PA_INVALID_INDEX;
    QByteArray name;
    QString description;
    pa_cvolume volume{};
    pa_channel_map channelMap{};
    pa_sink_state_t state = PA_SINK_INVALID_STATE;
    std::uint32_t ownerModule = PA_INVALID_INDEX;
    std::uint32_t monitorSource = PA_INVALID_INDEX;
    QByteArray driver;
    QByteArray bus;
    bool hardware = false;
    std::map<QByteArray, QByteArray> ownProperties; // those whose keys begin with "orvo."
    OutputKind outputKind = OutputKind::unknown;
};

struct PulseSourceRecord {
    std::uint32_t index = PA_INVALID_INDEX;
    QByteArray name;
    QString description;
    pa_source_state_t state = PA_SOURCE_INVALID_STATE;
    std::uint32_t monitorOfSink = PA_INVALID_INDEX;
    QByteArray bus;
    bool hardware = false;
};

struct PulseModuleRecord {
    std::uint32_t index = PA_INVALID_INDEX;
    QByteArray name;
    QString argument;
};

// What a stream says of the program behind it: the properties that tell a call from a voice
// note or a level meter. Empty where the stream does not say.
struct PulseStreamOwner {
    QByteArray applicationName;
    QByteArray processID;
    QByteArray processBinary;
    QByteArray mediaRole;
    QByteArray mediaName;
    QByteArray streamMonitor; // "true" on PipeWire for a stream that only measures
    // "true" on PipeWire for a capture of an output's monitor, from the stream's creation on,
    // before the stream shows the monitor as its source.
    QByteArray captureSink;
};

// A program's playback stream and the sink it plays into.
struct PulseSinkInputRecord {
    std::uint32_t index = PA_INVALID_INDEX;
    std::uint32_t sink = PA_INVALID_INDEX;
    bool corked = false;
    std::uint32_t client = PA_INVALID_INDEX; // none when a device of the server plays it
    PulseStreamOwner owner;
};

// A program's record stream and the source it reads.
struct PulseSourceOutputRecord {
    std::uint32_t index = PA_INVALID_INDEX;
    std::uint32_t source = PA_INVALID_INDEX;
    bool corked = false;
    std::uint32_t client = PA_INVALID_INDEX; // none for the server's own (loopbacks)
    std::uint32_t rate = 0;
    QByteArray resampleMethod; // "peaks" for a level meter's stream on PulseAudio
    PulseStreamOwner owner;
};

PulseSinkRecord toRecord(const pa_sink_info& info);
PulseSourceRecord toRecord(const pa_source_info& info);
PulseModuleRecord toRecord(const pa_module_info& info);
PulseStreamOwner ownerOf(pa_proplist* list);
PulseSinkInputRecord toRecord(const pa_sink_input_info& info);
PulseSourceOutputRecord toRecord(const pa_source_output_info& info);

// The server's devices as it showed them last. Empty, and not connected, without a server.
struct PulseDeviceSnapshot {
    bool connected = false;
    std::vector<PulseSinkRecord> sinks;
    std::vector<PulseSourceRecord> sources; // monitors included
    std::vector<PulseModuleRecord> modules;
    std::vector<PulseSinkInputRecord> sinkInputs;
    std::vector<PulseSourceOutputRecord> sourceOutputs;
    QByteArray defaultSink;
    QByteArray defaultSource;
    QByteArray serverName; // "PulseAudio", or "PulseAudio (on PipeWire ...)"

    const PulseSinkRecord* sink(std::uint32_t index) const;
    const PulseSinkRecord* sink(const QByteArray& name) const;
    const PulseSourceRecord* source(std::uint32_t index) const;
    const PulseModuleRecord* module(std::uint32_t index) const;
};

// The sound server's sinks, sources, modules, playback streams and default sink, kept up to date
// from its events (pa_context_subscribe) on a threaded main loop of its own, so that readers never
// wait on the server. Lost connections are made again every half second. The order of the
// library calls that matters, written down once:
//   create: loop, start its thread, then under the loop's lock a context, connect;
//   a context that failed is unreffed from a timer of the loop, never inside its callbacks;
//   destroy: under the lock free the timer and disconnect, stop the thread, unref, free.
class PulseDeviceCache {
public:
    // server: absent means the user's usual server. Waits at most firstWait for the first
    // snapshot.
    PulseDeviceCache(std::optional<QByteArray> server, std::chrono::milliseconds firstWait);
    ~PulseDeviceCache();
    PulseDeviceCache(const PulseDeviceCache&) = delete;
    PulseDeviceCache& operator=(const PulseDeviceCache&) = delete;
    PulseDeviceCache(PulseDeviceCache&&) = delete;
    PulseDeviceCache& operator=(PulseDeviceCache&&) = delete;

    // Any thread; never waits on the server.
    std::shared_ptr<const PulseDeviceSnapshot> snapshot() const;
    // Any thread; blocks at most timeout until a snapshot asked for after this call is in.
    // False on timeout.
    bool refresh(std::chrono::milliseconds timeout);
    // Any thread; blocks at most timeout until a published snapshot satisfies holds (the one
    // there now included). False on timeout.
    bool waitFor(const std::function<bool(const PulseDeviceSnapshot&)>& holds,
                 std::chrono::milliseconds timeout);
    // Any thread; does not wait: sends the volume and shows it in the snapshot at once.
    void setSinkVolume(std::uint32_t index, const pa_cvolume& volume);
    // Any thread. handler runs on the loop's thread after every new snapshot, also the empty
    // one of a lost server, for as long as the returned token lives.
    std::shared_ptr<void> observe(std::function<void()> handler);

private:
    using Handler = std::function<void()>;

    void connectLocked();
    void scheduleReconnectLocked();
    void startRoundLocked();
    void roundPartDone();
    void publish(std::shared_ptr<PulseDeviceSnapshot> snapshot, std::uint64_t upTo);
    void notifyObservers();

    static void stateChanged(pa_context* context, void* self);
    static void serverEvent(pa_context* context, pa_subscription_event_type_t type,
                            std::uint32_t index, void* self);

    const std::optional<QByteArray> server_;
    pa_threaded_mainloop* loop_;
    // Loop thread, or any thread holding the loop's lock:
    pa_context* context_ = nullptr;
    pa_context* failedContext_ = nullptr; // unreffed by the reconnect timer
    pa_time_event* reconnectTimer_ = nullptr;
    bool roundActive_ = false;
    int roundParts_ = 0;
    std::uint64_t roundTarget_ = 0;
    std::uint64_t requested_ = 0;
    std::shared_ptr<PulseDeviceSnapshot> building_;

    mutable std::mutex mutex_; // guards snapshot_, published_ and observers_
    std::condition_variable publishedChanged_;
    std::shared_ptr<const PulseDeviceSnapshot> snapshot_;
    std::uint64_t published_ = 0;
    std::vector<std::weak_ptr<Handler>> observers_;
};

} // namespace orvo
