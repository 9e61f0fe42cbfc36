#include "platform/linux/sound/PulseDeviceCache.h"

#include <algorithm>

#include <pulse/introspect.h>
#include <pulse/subscribe.h>
#include <pulse/timeval.h>

#include "platform/linux/sound/PulseConversions.h"

namespace orvo {
namespace {

constexpr pa_usec_t reconnectDelayUsec = 500 * 1000;
// The parts of one snapshot: sinks, sources, modules, playback streams, record streams and
// the server's default sink.
constexpr int roundPartCount = 6;
const QByteArray ownPropertyPrefix = "orvo.";

QByteArray property(pa_proplist* list, const char* key) {
    const char* value = list != nullptr ? pa_proplist_gets(list, key) : nullptr;
    return value != nullptr ? QByteArray(value) : QByteArray();
}

std::map<QByteArray, QByteArray> ownProperties(pa_proplist* list) {
    std::map<QByteArray, QByteArray> found;
    void* state = nullptr;
    while (list != nullptr) {
        const char* key = pa_proplist_iterate(list, &state);
        if (key == nullptr) {
            break;
        }
        if (QByteArray(key).startsWith(ownPropertyPrefix)) {
            found[key] = property(list, key);
        }
    }
    return found;
}

QString descriptionOrName(const char* description, const char* name) {
    const QString text = QString::fromUtf8(description != nullptr ? description : "");
    return text.isEmpty() ? QString::fromUtf8(name != nullptr ? name : "") : text;
}

template <class Record, class Key>
const Record* findIn(const std::vector<Record>& records, const Key& key, Key Record::*field) {
    const auto found = std::find_if(records.begin(), records.end(),
                                    [&](const Record& record) { return record.*field == key; });
    return found != records.end() ? &*found : nullptr;
}

} // namespace

PulseSinkRecord toRecord(const pa_sink_info& info) {
    PulseSinkRecord record;
    record.index = info.index;
    record.name = info.name;
    record.description = descriptionOrName(info.description, info.name);
    record.volume = info.volume;
    record.channelMap = info.channel_map;
    record.state = info.state;
    record.ownerModule = info.owner_module;
    record.monitorSource = info.monitor_source;
    record.driver = info.driver != nullptr ? QByteArray(info.driver) : QByteArray();
    record.bus = property(info.proplist, PA_PROP_DEVICE_BUS);
    record.hardware = (info.flags & PA_SINK_HARDWARE) != 0;
    record.ownProperties = ownProperties(info.proplist);
    QByteArray formFactor = property(info.proplist, PA_PROP_DEVICE_FORM_FACTOR);
    if (formFactor.isEmpty()) {
        // PipeWire's own spelling, for a device whose property its pulse server passes on as is.
        formFactor = property(info.proplist, "device.form-factor");
    }
    record.outputKind = pulse::outputKindOf(
        info.active_port != nullptr ? std::optional(info.active_port->type) : std::nullopt,
        formFactor);
    return record;
}

PulseSourceRecord toRecord(const pa_source_info& info) {
    PulseSourceRecord record;
    record.index = info.index;
    record.name = info.name;
    record.description = descriptionOrName(info.description, info.name);
    record.state = info.state;
    record.monitorOfSink = info.monitor_of_sink;
    record.bus = property(info.proplist, PA_PROP_DEVICE_BUS);
    record.hardware = (info.flags & PA_SOURCE_HARDWARE) != 0;
    return record;
}

PulseModuleRecord toRecord(const pa_module_info& info) {
    return PulseModuleRecord{info.index, info.name,
                             QString::fromUtf8(info.argument != nullptr ? info.argument : "")};
}

PulseStreamOwner ownerOf(pa_proplist* list) {
    return {property(list, PA_PROP_APPLICATION_NAME),
            property(list, PA_PROP_APPLICATION_PROCESS_ID),
            property(list, PA_PROP_APPLICATION_PROCESS_BINARY),
            property(list, PA_PROP_MEDIA_ROLE),
            property(list, PA_PROP_MEDIA_NAME),
            property(list, "stream.monitor"),
            property(list, "stream.capture.sink")};
}

PulseSinkInputRecord toRecord(const pa_sink_input_info& info) {
    return {info.index, info.sink, info.corked != 0, info.client, ownerOf(info.proplist)};
}

PulseSourceOutputRecord toRecord(const pa_source_output_info& info) {
    return {info.index,
            info.source,
            info.corked != 0,
            info.client,
            info.sample_spec.rate,
            info.resample_method != nullptr ? QByteArray(info.resample_method) : QByteArray(),
            ownerOf(info.proplist)};
}

const PulseSinkRecord* PulseDeviceSnapshot::sink(std::uint32_t index) const {
    return findIn(sinks, index, &PulseSinkRecord::index);
}

const PulseSinkRecord* PulseDeviceSnapshot::sink(const QByteArray& name) const {
    return findIn(sinks, name, &PulseSinkRecord::name);
}

const PulseSourceRecord* PulseDeviceSnapshot::source(std::uint32_t index) const {
    return findIn(sources, index, &PulseSourceRecord::index);
}

const PulseModuleRecord* PulseDeviceSnapshot::module(std::uint32_t index) const {
    return findIn(modules, index, &PulseModuleRecord::index);
}

PulseDeviceCache::PulseDeviceCache(std::optional<QByteArray> server,
                                   std::chrono::milliseconds firstWait)
    : server_(std::move(server)), loop_(pa_threaded_mainloop_new()),
      snapshot_(std::make_shared<PulseDeviceSnapshot>()) {
    if (loop_ == nullptr || pa_threaded_mainloop_start(loop_) < 0) {
        return;
    }
    pa_threaded_mainloop_lock(loop_);
    connectLocked();
    pa_threaded_mainloop_unlock(loop_);
    refresh(firstWait);
}

PulseDeviceCache::~PulseDeviceCache() {
    if (loop_ == nullptr) {
        return;
    }
    pa_threaded_mainloop_lock(loop_);
    if (reconnectTimer_ != nullptr) {
        pa_threaded_mainloop_get_api(loop_)->time_free(reconnectTimer_);
    }
    for (pa_context* context : {context_, failedContext_}) {
        if (context != nullptr) {
            pa_context_set_state_callback(context, nullptr, nullptr);
            pa_context_set_subscribe_callback(context, nullptr, nullptr);
            pa_context_disconnect(context);
        }
    }
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    for (pa_context* context : {context_, failedContext_}) {
        if (context != nullptr) {
            pa_context_unref(context);
        }
    }
    pa_threaded_mainloop_free(loop_);
}

void PulseDeviceCache::connectLocked() {
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "ORVO - Call Recorder devices");
    if (context_ == nullptr) {
        scheduleReconnectLocked();
        return;
    }
    pa_context_set_state_callback(context_, stateChanged, this);
    pa_context_set_subscribe_callback(context_, serverEvent, this);
    // No autospawn: a server that is not running is waited for, not started.
    pa_context* context = context_;
    if (pa_context_connect(context, server_ ? server_->constData() : nullptr,
                           PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 &&
        context_ == context) {
        // The state callback may already have taken the failure in.
        stateChanged(context, this);
    }
}

void PulseDeviceCache::scheduleReconnectLocked() {
    if (reconnectTimer_ != nullptr) {
        return;
    }
    const auto fire = [](pa_mainloop_api* api, pa_time_event* event, const struct timeval*,
                         void* data) {
        auto* self = static_cast<PulseDeviceCache*>(data);
        api->time_free(event);
        self->reconnectTimer_ = nullptr;
        if (self->failedContext_ != nullptr) {
            pa_context_unref(self->failedContext_);
            self->failedContext_ = nullptr;
        }
        self->connectLocked();
    };
    struct timeval when {};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, reconnectDelayUsec);
    reconnectTimer_ = pa_threaded_mainloop_get_api(loop_)->time_new(
        pa_threaded_mainloop_get_api(loop_), &when, fire, this);
}

void PulseDeviceCache::stateChanged(pa_context* context, void* data) {
    auto* self = static_cast<PulseDeviceCache*>(data);
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY) {
        const auto mask = pa_subscription_mask_t(
            PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_MODULE |
            PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SINK_INPUT |
            PA_SUBSCRIPTION_MASK_SOURCE_OUTPUT);
        if (pa_operation* operation = pa_context_subscribe(context, mask, nullptr, nullptr)) {
            pa_operation_unref(operation);
        }
        ++self->requested_;
        self->startRoundLocked();
        return;
    }
    if (PA_CONTEXT_IS_GOOD(state) || context != self->context_) {
        return;
    }
    // Lost or never reached: readers see no devices until the server is back.
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_set_subscribe_callback(context, nullptr, nullptr);
    if (self->failedContext_ != nullptr) {
        pa_context_unref(self->failedContext_);
    }
    self->failedContext_ = context;
    self->context_ = nullptr;
    self->roundActive_ = false;
    self->building_.reset();
    self->publish(std::make_shared<PulseDeviceSnapshot>(), self->requested_);
    self->scheduleReconnectLocked();
}

void PulseDeviceCache::serverEvent(pa_context*, pa_subscription_event_type_t, std::uint32_t,
                                   void* data) {
    auto* self = static_cast<PulseDeviceCache*>(data);
    ++self->requested_;
    self->startRoundLocked();
}

void PulseDeviceCache::startRoundLocked() {
    if (roundActive_ || context_ == nullptr || pa_context_get_state(context_) != PA_CONTEXT_READY) {
        return;
    }
    roundActive_ = true;
    roundTarget_ = requested_;
    roundParts_ = roundPartCount;
    building_ = std::make_shared<PulseDeviceSnapshot>();
    building_->connected = true;
    const auto sinkInfo = [](pa_context*, const pa_sink_info* info, int eol, void* data) {
        auto* self = static_cast<PulseDeviceCache*>(data);
        if (eol == 0 && info != nullptr && self->building_) {
            self->building_->sinks.push_back(toRecord(*info));
        } else if (eol != 0) {
            self->roundPartDone();
        }
    };
    const auto sourceInfo = [](pa_context*, const pa_source_info* info, int eol, void* data) {
        auto* self = static_cast<PulseDeviceCache*>(data);
        if (eol == 0 && info != nullptr && self->building_) {
            self->building_->sources.push_back(toRecord(*info));
        } else if (eol != 0) {
            self->roundPartDone();
        }
    };
    const auto moduleInfo = [](pa_context*, const pa_module_info* info, int eol, void* data) {
        auto* self = static_cast<PulseDeviceCache*>(data);
        if (eol == 0 && info != nullptr && self->building_) {
            self->building_->modules.push_back(toRecord(*info));
        } else if (eol != 0) {
            self->roundPartDone();
        }
    };
    const auto sinkInputInfo = [](pa_context*, const pa_sink_input_info* info, int eol,
                                  void* data) {
        auto* self = static_cast<PulseDeviceCache*>(data);
        if (eol == 0 && info != nullptr && self->building_) {
            self->building_->sinkInputs.push_back(toRecord(*info));
        } else if (eol != 0) {
            self->roundPartDone();
        }
    };
    const auto sourceOutputInfo = [](pa_context*, const pa_source_output_info* info, int eol,
                                     void* data) {
        auto* self = static_cast<PulseDeviceCache*>(data);
        if (eol == 0 && info != nullptr && self->building_) {
            self->building_->sourceOutputs.push_back(toRecord(*info));
        } else if (eol != 0) {
            self->roundPartDone();
        }
    };
    const auto serverInfo = [](pa_context*, const pa_server_info* info, void* data) {
        auto* self = static_cast<PulseDeviceCache*>(data);
        if (info != nullptr && self->building_) {
            self->building_->defaultSink = info->default_sink_name;
            self->building_->defaultSource = info->default_source_name;
            self->building_->serverName = info->server_name;
        }
        self->roundPartDone();
    };
    for (pa_operation* operation :
         {pa_context_get_sink_info_list(context_, sinkInfo, this),
          pa_context_get_source_info_list(context_, sourceInfo, this),
          pa_context_get_module_info_list(context_, moduleInfo, this),
          pa_context_get_sink_input_info_list(context_, sinkInputInfo, this),
          pa_context_get_source_output_info_list(context_, sourceOutputInfo, this),
          pa_context_get_server_info(context_, serverInfo, this)}) {
        if (operation != nullptr) {
            pa_operation_unref(operation);
        } else {
            roundPartDone();
        }
    }
}

void PulseDeviceCache::roundPartDone() {
    if (!roundActive_ || --roundParts_ > 0) {
        return;
    }
    roundActive_ = false;
    publish(std::exchange(building_, nullptr), roundTarget_);
    // Events that came while this round ran need another.
    if (requested_ > roundTarget_) {
        startRoundLocked();
    }
}

void PulseDeviceCache::publish(std::shared_ptr<PulseDeviceSnapshot> snapshot, std::uint64_t upTo) {
    {
        std::lock_guard lock(mutex_);
        if (snapshot) {
            snapshot_ = std::move(snapshot);
        }
        published_ = std::max(published_, upTo);
    }
    publishedChanged_.notify_all();
    notifyObservers();
}

void PulseDeviceCache::notifyObservers() {
    std::vector<std::shared_ptr<Handler>> handlers;
    {
        std::lock_guard lock(mutex_);
        std::erase_if(observers_, [](const std::weak_ptr<Handler>& h) { return h.expired(); });
        for (const auto& observer : observers_) {
            if (auto handler = observer.lock()) {
                handlers.push_back(std::move(handler));
            }
        }
    }
    for (const auto& handler : handlers) {
        (*handler)();
    }
}

std::shared_ptr<const PulseDeviceSnapshot> PulseDeviceCache::snapshot() const {
    std::lock_guard lock(mutex_);
    return snapshot_;
}

bool PulseDeviceCache::refresh(std::chrono::milliseconds timeout) {
    if (loop_ == nullptr) {
        return false;
    }
    pa_threaded_mainloop_lock(loop_);
    const std::uint64_t target = ++requested_;
    const bool waiting = context_ != nullptr;
    startRoundLocked();
    pa_threaded_mainloop_unlock(loop_);
    if (!waiting) {
        return true; // no server to ask: the empty snapshot is what there is
    }
    std::unique_lock lock(mutex_);
    return publishedChanged_.wait_for(lock, timeout, [&] { return published_ >= target; });
}

bool PulseDeviceCache::waitFor(const std::function<bool(const PulseDeviceSnapshot&)>& holds,
                               std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return publishedChanged_.wait_for(lock, timeout, [&] { return holds(*snapshot_); });
}

void PulseDeviceCache::setSinkVolume(std::uint32_t index, const pa_cvolume& volume) {
    if (loop_ == nullptr) {
        return;
    }
    pa_threaded_mainloop_lock(loop_);
    if (context_ != nullptr && pa_context_get_state(context_) == PA_CONTEXT_READY) {
        if (pa_operation* operation =
                pa_context_set_sink_volume_by_index(context_, index, &volume, nullptr, nullptr)) {
            pa_operation_unref(operation);
        }
    }
    pa_threaded_mainloop_unlock(loop_);
    std::lock_guard lock(mutex_);
    auto changed = std::make_shared<PulseDeviceSnapshot>(*snapshot_);
    for (PulseSinkRecord& sink : changed->sinks) {
        if (sink.index == index) {
            sink.volume = volume;
        }
    }
    snapshot_ = std::move(changed);
}

std::shared_ptr<void> PulseDeviceCache::observe(std::function<void()> handler) {
    auto shared = std::make_shared<Handler>(std::move(handler));
    std::lock_guard lock(mutex_);
    observers_.push_back(shared);
    return shared;
}

} // namespace orvo
