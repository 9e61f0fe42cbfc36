#include "platform/linux/sound/LinuxAudioHardware.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <utility>

#include <QStringList>
#include <pulse/introspect.h>
#include <pulse/volume.h>

#include "platform/linux/sound/CombineSinkArguments.h"
#include "platform/linux/sound/PipeWireMetadata.h"
#include "platform/linux/sound/PulseConversions.h"
#include "platform/linux/sound/PulseDeviceCache.h"
#include "platform/linux/sound/PulseRequests.h"
#include "platform/linux/sound/PulseSession.h"
#include "platform/linux/sound/PulseSourceKeeper.h"

namespace orvo {

using namespace pulse;

namespace {

constexpr std::chrono::seconds hungServerPause{10};
// While a new default output is awaited: how often the server is asked again.
constexpr std::chrono::milliseconds defaultAskAgain{250};
// How long a combined output's sink may take to show after its module loaded.
constexpr std::chrono::milliseconds newSinkWait{3000};

using SinkRecord = PulseSinkRecord;
using SourceRecord = PulseSourceRecord;
using Server = PulseRequests;

} // namespace

LinuxAudioHardware::LinuxAudioHardware() : LinuxAudioHardware(Options{}) {}

LinuxAudioHardware::LinuxAudioHardware(Options options)
    : options_(std::move(options)),
      cache_(std::make_unique<PulseDeviceCache>(options_.server, options_.callTimeout)) {}

LinuxAudioHardware::~LinuxAudioHardware() = default;

PulseSession* LinuxAudioHardware::sessionLocked() {
    if (session_ && session_->usable()) {
        return session_.get();
    }
    // A hung server is not asked again at once: a caller that loops over devices, or the
    // input watcher, would otherwise wait one timeout per call.
    const auto now = std::chrono::steady_clock::now();
    if (session_ && session_->timedOut()) {
        quietUntil_ = now + hungServerPause;
    }
    session_.reset();
    if (now < quietUntil_) {
        return nullptr;
    }
    auto session = std::make_unique<PulseSession>();
    if (!session->connect("ORVO - Call Recorder", options_.server, options_.callTimeout,
                          PulseSession::Drive::ownThread)) {
        session_ = std::move(session);
    } else if (std::chrono::steady_clock::now() - now >= options_.callTimeout) {
        quietUntil_ = std::chrono::steady_clock::now() + hungServerPause;
    }
    return session_.get();
}

// Runs fn(Server&) with a connected session, or gives notRunning (no server) or noAnswer (a
// hung one) at once.
template <class Result, class Fn>
Result LinuxAudioHardware::withServer(Result notRunning, Result noAnswer, Fn&& fn) {
    std::lock_guard lock(mutex_);
    PulseSession* session = sessionLocked();
    if (session == nullptr) {
        // Within the pause a server has just let a call or a connection wait for its timeout.
        return std::chrono::steady_clock::now() < quietUntil_ ? noAnswer : notRunning;
    }
    Server server(*session);
    return fn(server);
}

// Runs fn(Server&, SinkRecord&) for the sink behind an output device; missing when the device
// is no sink the server has, notRunning without a server, noAnswer when it did not answer.
template <class Result, class Fn>
Result LinuxAudioHardware::withSink(AudioDeviceID device, Result missing, Result notRunning,
                                    Result noAnswer, Fn&& fn) {
    const auto ref = decode(device);
    if (!ref || ref->isSource) {
        return missing;
    }
    return withServer(notRunning, noAnswer, [&](Server& server) -> Result {
        auto sink = server.sink(ref->index);
        if (!sink.answered) {
            return noAnswer;
        }
        return sink.record ? fn(server, *sink.record) : missing;
    });
}

std::shared_ptr<const PulseDeviceSnapshot> LinuxAudioHardware::known() const {
    return cache_->snapshot();
}

bool LinuxAudioHardware::catchUp() {
    return cache_->refresh(options_.callTimeout);
}

namespace {

const PulseSinkRecord* sinkOf(const PulseDeviceSnapshot& known, AudioDeviceID device) {
    const auto ref = decode(device);
    return ref && !ref->isSource ? known.sink(ref->index) : nullptr;
}

const PulseSourceRecord* sourceOf(const PulseDeviceSnapshot& known, AudioDeviceID device) {
    const auto ref = decode(device);
    return ref && ref->isSource ? known.source(ref->index) : nullptr;
}

const PulseModuleRecord* combineModuleOf(const PulseDeviceSnapshot& known,
                                         const PulseSinkRecord& sink) {
    const PulseModuleRecord* owner =
        sink.ownerModule != PA_INVALID_INDEX ? known.module(sink.ownerModule) : nullptr;
    return owner != nullptr && owner->name == PulseRequests::combineModule ? owner : nullptr;
}

bool isCombineSink(const PulseDeviceSnapshot& known, const PulseSinkRecord& sink) {
    return combineModuleOf(known, sink) != nullptr || sink.driver.contains("combine");
}

} // namespace

std::vector<AudioDeviceID> LinuxAudioHardware::devices() {
    const auto snapshot = known();
    std::vector<AudioDeviceID> ids;
    for (const auto& sink : snapshot->sinks) {
        if (representable(sink.index)) {
            ids.push_back(sinkID(sink.index));
        }
    }
    for (const auto& source : snapshot->sources) {
        if (source.monitorOfSink == PA_INVALID_INDEX && representable(source.index)) {
            ids.push_back(sourceID(source.index));
        }
    }
    return ids;
}

bool LinuxAudioHardware::hasOutputStreams(AudioDeviceID device) {
    return sinkOf(*known(), device) != nullptr;
}

std::optional<QString> LinuxAudioHardware::name(AudioDeviceID device) {
    const auto snapshot = known();
    if (const auto* source = sourceOf(*snapshot, device)) {
        return source->description;
    }
    if (const auto* sink = sinkOf(*snapshot, device)) {
        return sink->description;
    }
    return std::nullopt;
}

std::optional<QString> LinuxAudioHardware::uid(AudioDeviceID device) {
    const auto snapshot = known();
    if (const auto* source = sourceOf(*snapshot, device)) {
        return QString::fromUtf8(source->name);
    }
    if (const auto* sink = sinkOf(*snapshot, device)) {
        return QString::fromUtf8(sink->name);
    }
    return std::nullopt;
}

std::optional<std::uint32_t> LinuxAudioHardware::transportType(AudioDeviceID device) {
    const auto snapshot = known();
    if (const auto* source = sourceOf(*snapshot, device)) {
        return busTransport(source->bus, source->hardware);
    }
    if (const auto* sink = sinkOf(*snapshot, device)) {
        return isCombineSink(*snapshot, *sink) ? transport::aggregate
                                               : busTransport(sink->bus, sink->hardware);
    }
    return std::nullopt;
}

std::optional<AudioDeviceID> LinuxAudioHardware::defaultOutputDevice() {
    const auto snapshot = known();
    const auto* sink = snapshot->sink(snapshot->defaultSink);
    if (sink == nullptr || !representable(sink->index)) {
        return std::nullopt;
    }
    return sinkID(sink->index);
}

AudioStatus LinuxAudioHardware::setDefaultOutputDevice(AudioDeviceID device) {
    const AudioStatus status = withSink(
        device, audioStatusBadDevice, audioStatusNotRunning, audioStatusTimeout,
        [](Server& server, SinkRecord& sink) {
            // Streams that follow the default move with it, so what plays keeps
            // being heard.
            return server.succeed([&](pa_context* context, pa_context_success_cb_t answer,
                                      void* data) {
                return pa_context_set_default_sink(context, sink.name.constData(), answer, data);
            });
        });
    if (status == noErr) {
        catchUp();
    }
    return status;
}

// PulseAudio reports the new default with its answer. PipeWire's server answers at once and
// switches only when WirePlumber has taken the new configured default, a moment later; and it
// does not always tell its clients (seen about once in thirty switches on a loaded machine:
// the server reported the new default to a new client while ours heard nothing). So the
// server is also asked again now and then while waiting.
bool LinuxAudioHardware::awaitDefaultOutput(AudioDeviceID device,
                                            std::chrono::milliseconds timeout) {
    const auto ref = decode(device);
    if (!ref || ref->isSource) {
        return false;
    }
    const auto isDefault = [&](const PulseDeviceSnapshot& snapshot) {
        const auto* sink = snapshot.sink(ref->index);
        return sink != nullptr && snapshot.defaultSink == sink->name;
    };
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (int asked = 0;; ++asked) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left <= std::chrono::milliseconds::zero()) {
            return false;
        }
        if (cache_->waitFor(isDefault, std::min(left, defaultAskAgain))) {
            if (asked > 0) {
                qInfo("The new default output showed when the server was asked again (%d)", asked);
            }
            return true;
        }
        cache_->refresh(left);
    }
}

std::vector<PlaybackStream> LinuxAudioHardware::playbackStreams() {
    return streamsOf(*known());
}

bool LinuxAudioHardware::awaitPlaybackStreams(
    const std::function<bool(const std::vector<PlaybackStream>&)>& placed,
    std::chrono::milliseconds timeout) {
    return cache_->waitFor(
        [&](const PulseDeviceSnapshot& snapshot) { return placed(streamsOf(snapshot)); }, timeout);
}

std::vector<PlaybackStream> LinuxAudioHardware::streamsOf(const PulseDeviceSnapshot& snapshot) {
    std::vector<PlaybackStream> streams;
    for (const auto& input : snapshot.sinkInputs) {
        // A program's streams come through a client; the server's own devices have none.
        if (input.client == PA_INVALID_INDEX) {
            continue;
        }
        const auto* sink = snapshot.sink(input.sink);
        const bool placed = sink != nullptr && representable(sink->index);
        streams.push_back(
            {input.index, placed ? sinkID(sink->index) : noAudioDevice, input.corked});
    }
    return streams;
}

namespace {

ProgramStream programStreamOf(const PulseStreamOwner& owner) {
    ProgramStream stream;
    bool numeric = false;
    const qlonglong process = owner.processID.toLongLong(&numeric);
    if (numeric && process > 0) {
        stream.processID = process;
    }
    stream.applicationName = QString::fromUtf8(owner.applicationName);
    stream.processBinary = QString::fromUtf8(owner.processBinary);
    stream.mediaRole = QString::fromUtf8(owner.mediaRole);
    stream.measuresOnly = owner.streamMonitor == "true";
    return stream;
}

} // namespace

std::vector<ProgramStream> LinuxAudioHardware::programStreams() {
    const auto snapshot = known();
    std::vector<ProgramStream> streams;
    for (const auto& output : snapshot->sourceOutputs) {
        if (output.client == PA_INVALID_INDEX) {
            continue;
        }
        ProgramStream stream = programStreamOf(output.owner);
        stream.id = output.index;
        stream.direction = ProgramStream::Direction::capture;
        stream.paused = output.corked;
        stream.rate = output.rate;
        const auto* source = snapshot->source(output.source);
        stream.readsOutput = (source != nullptr && source->monitorOfSink != PA_INVALID_INDEX) ||
                             output.owner.captureSink == "true";
        stream.measuresOnly = stream.measuresOnly || output.resampleMethod == "peaks";
        streams.push_back(std::move(stream));
    }
    for (const auto& input : snapshot->sinkInputs) {
        if (input.client == PA_INVALID_INDEX) {
            continue;
        }
        ProgramStream stream = programStreamOf(input.owner);
        stream.id = input.index;
        stream.paused = input.corked;
        streams.push_back(std::move(stream));
    }
    return streams;
}

bool LinuxAudioHardware::feedsInput(AudioDeviceID device) {
    const auto snapshot = known();
    const auto* sink = sinkOf(*snapshot, device);
    const auto* monitor = sink != nullptr ? snapshot->source(sink->monitorSource) : nullptr;
    if (monitor == nullptr) {
        return false;
    }
    const QString name = QString::fromUtf8(monitor->name);
    return std::any_of(
        snapshot->modules.begin(), snapshot->modules.end(),
        [&](const PulseModuleRecord& module) { return sourcesOf(module.argument).contains(name); });
}

AudioStatus LinuxAudioHardware::movePlaybackStream(std::uint32_t stream, AudioDeviceID device) {
    const AudioStatus status =
        withSink(device, audioStatusBadDevice, audioStatusNotRunning, audioStatusTimeout,
                 [stream](Server& server, SinkRecord& sink) {
                     return server.succeed(
                         [&](pa_context* context, pa_context_success_cb_t answer, void* data) {
                             return pa_context_move_sink_input_by_index(context, stream, sink.index,
                                                                        answer, data);
                         });
                 });
    if (status == noErr) {
        catchUp();
    }
    return status;
}

bool LinuxAudioHardware::hasVirtualMainVolume(AudioDeviceID device) {
    return hasOutputStreams(device);
}

std::optional<float> LinuxAudioHardware::virtualMainVolume(AudioDeviceID device) {
    const auto snapshot = known();
    const auto* sink = sinkOf(*snapshot, device);
    if (sink == nullptr || !pa_cvolume_valid(&sink->volume)) {
        return std::nullopt;
    }
    return toScalar(pa_cvolume_avg(&sink->volume));
}

AudioStatus LinuxAudioHardware::setVirtualMainVolume(AudioDeviceID device, float volume) {
    const auto snapshot = known();
    const auto* sink = sinkOf(*snapshot, device);
    if (sink == nullptr || !pa_cvolume_valid(&sink->volume)) {
        return snapshot->connected ? audioStatusBadDevice : audioStatusNotRunning;
    }
    // Keeps the balance between the channels; their average becomes the new volume.
    const pa_volume_t average = pa_cvolume_avg(&sink->volume);
    const pa_volume_t target = toVolume(volume);
    pa_cvolume next = sink->volume;
    for (std::uint8_t c = 0; c < next.channels; ++c) {
        const double scaled =
            average == 0 ? double(target) : double(next.values[c]) * target / average;
        next.values[c] = pa_volume_t(std::min<double>(std::lround(scaled), PA_VOLUME_MAX));
    }
    cache_->setSinkVolume(sink->index, next);
    return noErr;
}

std::optional<std::array<std::uint32_t, 2>>
LinuxAudioHardware::preferredStereoChannels(AudioDeviceID device) {
    const auto snapshot = known();
    const auto* sink = sinkOf(*snapshot, device);
    if (sink == nullptr || sink->channelMap.channels == 0) {
        return std::nullopt;
    }
    std::array<std::uint32_t, 2> channels{1, sink->channelMap.channels > 1 ? 2u : 1u};
    for (std::uint32_t c = 0; c < sink->channelMap.channels; ++c) {
        if (sink->channelMap.map[c] == PA_CHANNEL_POSITION_FRONT_LEFT) {
            channels[0] = c + 1;
        } else if (sink->channelMap.map[c] == PA_CHANNEL_POSITION_FRONT_RIGHT) {
            channels[1] = c + 1;
        }
    }
    return channels;
}

std::optional<float> LinuxAudioHardware::channelVolume(AudioDeviceID device,
                                                       std::uint32_t channel) {
    const auto snapshot = known();
    const auto* sink = sinkOf(*snapshot, device);
    if (sink == nullptr || channel == 0 || channel > sink->volume.channels) {
        return std::nullopt;
    }
    return toScalar(sink->volume.values[channel - 1]);
}

AudioStatus LinuxAudioHardware::setChannelVolume(AudioDeviceID device, std::uint32_t channel,
                                                 float volume) {
    const auto snapshot = known();
    const auto* sink = sinkOf(*snapshot, device);
    if (sink == nullptr) {
        return snapshot->connected ? audioStatusBadDevice : audioStatusNotRunning;
    }
    if (channel == 0 || channel > sink->volume.channels) {
        return audioStatusBadDevice;
    }
    pa_cvolume next = sink->volume;
    next.values[channel - 1] = toVolume(volume);
    cache_->setSinkVolume(sink->index, next);
    return noErr;
}

std::optional<bool> LinuxAudioHardware::isRunningSomewhere(AudioDeviceID device) {
    const auto snapshot = known();
    if (const auto* source = sourceOf(*snapshot, device)) {
        return source->state == PA_SOURCE_RUNNING;
    }
    const auto* sink = sinkOf(*snapshot, device);
    if (sink == nullptr) {
        return std::nullopt;
    }
    if (sink->state == PA_SINK_RUNNING) {
        return true;
    }
    // Someone recording what the device plays also keeps it running.
    const auto* monitor = snapshot->source(sink->monitorSource);
    return monitor != nullptr && monitor->state == PA_SOURCE_RUNNING;
}

std::optional<PipeWireMetadata> LinuxAudioHardware::pipeWireMetadata() const {
    if (!known()->serverName.contains("PipeWire")) {
        return std::nullopt;
    }
    std::optional<QString> socket;
    if (options_.server) {
        socket = PipeWireMetadata::socketBesidePulse(QString::fromUtf8(*options_.server));
        if (!socket) {
            return std::nullopt;
        }
    }
    return PipeWireMetadata(socket, options_.callTimeout);
}

std::optional<ConfiguredDefaultOutput> LinuxAudioHardware::configuredDefaultOutput() {
    const auto metadata = pipeWireMetadata();
    const auto entry =
        metadata ? metadata->read(PipeWireMetadata::configuredSinkKey) : std::nullopt;
    if (!entry) {
        return std::nullopt;
    }
    return ConfiguredDefaultOutput{
        entry->value, entry->value ? PipeWireMetadata::nameOf(*entry->value) : std::nullopt};
}

AudioStatus
LinuxAudioHardware::setConfiguredDefaultOutput(const ConfiguredDefaultOutput& configured) {
    const auto metadata = pipeWireMetadata();
    if (!metadata) {
        return audioStatusIllegalOperation;
    }
    if (!metadata->write(PipeWireMetadata::configuredSinkKey, configured.value)) {
        return audioStatusUnspecified;
    }
    // WirePlumber chooses the default output anew from it, a moment later.
    catchUp();
    return noErr;
}

std::optional<QString> LinuxAudioHardware::property(AudioDeviceID device, const QString& key) {
    const auto snapshot = known();
    const auto* sink = sinkOf(*snapshot, device);
    if (sink == nullptr) {
        return std::nullopt;
    }
    const auto found = sink->ownProperties.find(key.toUtf8());
    return found != sink->ownProperties.end() ? std::optional(QString::fromUtf8(found->second))
                                              : std::nullopt;
}

OutputKind LinuxAudioHardware::outputKind(AudioDeviceID device) {
    const auto snapshot = known();
    const auto* sink = sinkOf(*snapshot, device);
    return sink != nullptr ? sink->outputKind : OutputKind::unknown;
}

std::shared_ptr<void> LinuxAudioHardware::observeChanges(std::function<void()> handler) {
    return cache_->observe(std::move(handler));
}

AggregateCreation LinuxAudioHardware::createAggregateDevice(const QVariantMap& description) {
    const auto arguments = combineSinkArguments(description);
    if (!arguments) {
        return {audioStatusIllegalOperation, noAudioDevice};
    }
    const AggregateCreation created =
        withServer(AggregateCreation{audioStatusNotRunning, noAudioDevice},
                   AggregateCreation{audioStatusTimeout, noAudioDevice}, [&](Server& server) {
                       return loadAggregate(server, *cache_, arguments->slaves, arguments->sinkName,
                                            arguments->text);
                   });
    if (created.status == noErr) {
        catchUp();
    }
    return created;
}

AggregateCreation LinuxAudioHardware::loadAggregate(PulseRequests& server, PulseDeviceCache& cache,
                                                    const QStringList& subDevices,
                                                    const QString& deviceUID,
                                                    const QByteArray& arguments) {
    for (const QString& sub : subDevices) {
        const auto found = server.sink(sub.toUtf8());
        if (!found.record) {
            return {found.answered ? audioStatusBadDevice : server.noAnswerStatus(), noAudioDevice};
        }
    }
    const auto [loaded, module] = server.loadModule(PulseRequests::combineModule, arguments);
    if (loaded != noErr) {
        return {loaded, noAudioDevice};
    }
    // PipeWire's server may answer the load a moment before the sink's node is there.
    cache.waitFor(
        [&deviceUID, loadedBy = module](const PulseDeviceSnapshot& snapshot) {
            const auto* made = snapshot.sink(deviceUID.toUtf8());
            return made != nullptr && made->ownerModule == loadedBy;
        },
        newSinkWait);
    const auto sink = server.sink(deviceUID.toUtf8());
    if (!sink.record || sink.record->ownerModule != module || !representable(sink.record->index)) {
        qWarning("The combined output %s of module %u is not there as loaded: %s",
                 deviceUID.toUtf8().constData(), module,
                 !sink.record ? (sink.answered ? "no such sink" : "no answer")
                              : QByteArray::number(sink.record->ownerModule)
                                    .prepend("owned by module ")
                                    .constData());
        // A module left behind would play to the user's output for good: said on the console;
        // the next creation removes what a failed one left.
        if (const AudioStatus unloaded = server.unloadModule(module); unloaded != noErr) {
            qWarning("The combined output's module %u could not be removed (status %d)", module,
                     int(unloaded));
        }
        return {sink.answered ? audioStatusUnspecified : server.noAnswerStatus(), noAudioDevice};
    }
    return {noErr, sinkID(sink.record->index)};
}

AudioStatus LinuxAudioHardware::destroyAggregateDevice(AudioDeviceID device) {
    QByteArray name;
    std::uint32_t owner = PA_INVALID_INDEX;
    const AudioStatus status = withSink(device, audioStatusBadDevice, audioStatusNotRunning,
                                        audioStatusTimeout, [&](Server& server, SinkRecord& sink) {
                                            const auto module = server.combineModuleOf(sink);
                                            if (!module.answered) {
                                                return server.noAnswerStatus();
                                            }
                                            if (!module.record) {
                                                return audioStatusIllegalOperation;
                                            }
                                            name = sink.name;
                                            owner = module.record->index;
                                            return server.unloadModule(owner);
                                        });
    if (status == noErr) {
        // PipeWire's server answers the unload a moment before the sink has gone: one made
        // again at once under the same name would find the old one still there.
        cache_->waitFor(
            [&](const PulseDeviceSnapshot& snapshot) {
                const auto* left = snapshot.sink(name);
                return left == nullptr || left->ownerModule != owner;
            },
            newSinkWait);
        catchUp();
    }
    return status;
}

std::vector<AudioDeviceID> LinuxAudioHardware::activeSubDevices(AudioDeviceID aggregate) {
    const auto snapshot = known();
    const auto* sink = sinkOf(*snapshot, aggregate);
    const auto* module = sink != nullptr ? combineModuleOf(*snapshot, *sink) : nullptr;
    std::vector<AudioDeviceID> ids;
    if (module == nullptr) {
        return ids;
    }
    for (const QString& name : slavesOf(module->argument)) {
        const auto* sub = snapshot->sink(name.toUtf8());
        if (sub != nullptr && representable(sub->index)) {
            ids.push_back(sinkID(sub->index));
        }
    }
    return ids;
}

std::vector<AudioCaptureDevice> LinuxAudioHardware::captureDevices() {
    std::vector<AudioCaptureDevice> devices;
    for (const auto& source : known()->sources) {
        if (source.monitorOfSink == PA_INVALID_INDEX) {
            devices.push_back({source.description, QString::fromUtf8(source.name)});
        }
    }
    return devices;
}

std::optional<QString> LinuxAudioHardware::defaultCaptureDeviceUID() {
    const auto snapshot = known();
    if (snapshot->defaultSource.isEmpty()) {
        return std::nullopt;
    }
    return QString::fromUtf8(snapshot->defaultSource);
}

std::optional<AudioCaptureDevice> LinuxAudioHardware::monitorOf(AudioDeviceID output) {
    const auto snapshot = known();
    const auto* sink = sinkOf(*snapshot, output);
    const auto* monitor = sink != nullptr ? snapshot->source(sink->monitorSource) : nullptr;
    if (monitor == nullptr) {
        return std::nullopt;
    }
    return AudioCaptureDevice{monitor->description, QString::fromUtf8(monitor->name)};
}

bool LinuxAudioHardware::hasSource(const QByteArray& name) {
    const auto knows = [&](const PulseDeviceSnapshot& snapshot) {
        return std::any_of(snapshot.sources.begin(), snapshot.sources.end(),
                           [&](const PulseSourceRecord& source) { return source.name == name; });
    };
    const auto snapshot = known();
    if (!snapshot->connected || name.isEmpty()) {
        return false;
    }
    return knows(*snapshot) || (catchUp() && knows(*known()));
}

std::shared_ptr<void> LinuxAudioHardware::keepCaptureDeviceRunning(const QString& uniqueID) {
    auto keeper = std::make_shared<PulseSourceKeeper>(uniqueID);
    return keeper->reading() ? keeper : nullptr;
}

QString LinuxAudioHardware::installedDriverPath() const {
    return options_.driverRoot + standardInstalledDriverPath();
}

} // namespace orvo
