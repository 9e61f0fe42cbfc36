#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include <QVariantList>

#include "platform/AudioHardware.h"

namespace orvo {

// Devices set up by the test, in list order. Reads of a property the device lacks fail;
// aggregates made through createAggregateDevice join the list and are recorded.
class FakeAudioHardware final : public AudioHardware {
public:
    struct Device {
        AudioDeviceID id = noAudioDevice;
        std::optional<QString> name;
        std::optional<QString> uid;
        bool output = false;
        std::optional<std::uint32_t> transport = transport::virtualDevice;
        std::optional<float> mainVolume; // absent: the device has none
        std::optional<std::array<std::uint32_t, 2>> stereoChannels;
        std::map<std::uint32_t, float> channelVolumes;
        std::vector<AudioDeviceID> subDevices;
        QVariantMap properties;
        std::optional<AudioCaptureDevice> monitor; // an output's
        OutputKind outputKind = OutputKind::unknown;
    };

    void add(Device device) {
        std::lock_guard lock(mutex_);
        devices_.push_back(std::move(device));
    }
    void setDefaultOutput(std::optional<AudioDeviceID> device) {
        std::lock_guard lock(mutex_);
        defaultOutput_ = device;
    }
    // Absent: the server keeps no configured default. Otherwise a new default output overwrites
    // it, as PipeWire's server does.
    void setConfiguredDefault(std::optional<ConfiguredDefaultOutput> configured) {
        std::lock_guard lock(mutex_);
        configured_ = std::move(configured);
    }
    void setCreationStatus(AudioStatus status) {
        std::lock_guard lock(mutex_);
        creationStatus_ = status;
    }
    // How many of the next default-output switches the server takes without making them: the
    // default stays where it was, as with a session manager that does not follow.
    void ignoreDefaultSwitches(int count) {
        std::lock_guard lock(mutex_);
        ignoredSwitches_ = count;
    }
    void setPlaybackStreams(std::vector<PlaybackStream> streams) {
        std::lock_guard lock(mutex_);
        streams_ = std::move(streams);
    }
    // Tells the observers, as the server's events would.
    void setProgramStreams(std::vector<ProgramStream> streams) {
        {
            std::lock_guard lock(mutex_);
            programStreams_ = std::move(streams);
        }
        tellObservers();
    }
    // Another port of the device became active (headphones plugged in or out); tells the
    // observers, as the server's events would.
    void setOutputKind(AudioDeviceID id, OutputKind kind) {
        write(id, [kind](Device& d) {
            d.outputKind = kind;
            return noErr;
        });
        tellObservers();
    }
    void setCaptureDevices(std::vector<AudioCaptureDevice> devices) {
        std::lock_guard lock(mutex_);
        captureDevices_ = std::move(devices);
    }
    void setInstalledDriverPath(const QString& path) {
        std::lock_guard lock(mutex_);
        driverPath_ = path;
    }
    std::vector<QVariantMap> descriptions() const {
        std::lock_guard lock(mutex_);
        return descriptions_;
    }
    std::vector<AudioDeviceID> destroyed() const {
        std::lock_guard lock(mutex_);
        return destroyed_;
    }
    std::optional<Device> device(AudioDeviceID id) const {
        std::lock_guard lock(mutex_);
        const Device* found = findLocked(id);
        return found != nullptr ? std::optional(*found) : std::nullopt;
    }

    std::vector<AudioDeviceID> devices() override {
        std::lock_guard lock(mutex_);
        std::vector<AudioDeviceID> ids;
        for (const Device& d : devices_) {
            ids.push_back(d.id);
        }
        return ids;
    }
    bool hasOutputStreams(AudioDeviceID id) override {
        return read(id, [](const Device& d) { return std::optional(d.output); }).value_or(false);
    }
    std::optional<QString> name(AudioDeviceID id) override {
        return read(id, [](const Device& d) { return d.name; });
    }
    std::optional<QString> uid(AudioDeviceID id) override {
        return read(id, [](const Device& d) { return d.uid; });
    }
    std::optional<std::uint32_t> transportType(AudioDeviceID id) override {
        return read(id, [](const Device& d) { return d.transport; });
    }
    std::optional<AudioDeviceID> defaultOutputDevice() override {
        std::lock_guard lock(mutex_);
        return defaultOutput_;
    }
    AudioStatus setDefaultOutputDevice(AudioDeviceID id) override {
        std::lock_guard lock(mutex_);
        if (findLocked(id) == nullptr) {
            return audioStatusBadDevice;
        }
        if (ignoredSwitches_ > 0) {
            --ignoredSwitches_;
            return noErr;
        }
        defaultOutput_ = id;
        if (configured_) {
            const auto uid = findLocked(id)->uid;
            configured_ = ConfiguredDefaultOutput{"{\"name\":\"" + uid.value_or("") + "\"}", uid};
        }
        return noErr;
    }
    std::optional<ConfiguredDefaultOutput> configuredDefaultOutput() override {
        std::lock_guard lock(mutex_);
        return configured_;
    }
    AudioStatus setConfiguredDefaultOutput(const ConfiguredDefaultOutput& configured) override {
        std::lock_guard lock(mutex_);
        if (!configured_) {
            return audioStatusIllegalOperation;
        }
        configured_ = configured;
        return noErr;
    }
    bool hasVirtualMainVolume(AudioDeviceID id) override {
        return read(id, [](const Device& d) { return std::optional(d.mainVolume.has_value()); })
            .value_or(false);
    }
    std::optional<float> virtualMainVolume(AudioDeviceID id) override {
        return read(id, [](const Device& d) { return d.mainVolume; });
    }
    AudioStatus setVirtualMainVolume(AudioDeviceID id, float volume) override {
        return write(id, [&](Device& d) {
            if (!d.mainVolume) {
                return audioStatusIllegalOperation;
            }
            d.mainVolume = volume;
            return noErr;
        });
    }
    std::optional<std::array<std::uint32_t, 2>> preferredStereoChannels(AudioDeviceID id) override {
        return read(id, [](const Device& d) { return d.stereoChannels; });
    }
    std::optional<float> channelVolume(AudioDeviceID id, std::uint32_t channel) override {
        return read(id, [&](const Device& d) -> std::optional<float> {
            const auto it = d.channelVolumes.find(channel);
            return it == d.channelVolumes.end() ? std::nullopt : std::optional(it->second);
        });
    }
    AudioStatus setChannelVolume(AudioDeviceID id, std::uint32_t channel, float volume) override {
        return write(id, [&](Device& d) {
            d.channelVolumes[channel] = volume;
            return noErr;
        });
    }
    // Nothing runs or plays on the fake devices.
    std::optional<bool> isRunningSomewhere(AudioDeviceID id) override {
        return read(id, [](const Device&) { return std::optional(false); });
    }
    std::vector<PlaybackStream> playbackStreams() override {
        std::lock_guard lock(mutex_);
        return streams_;
    }
    std::vector<ProgramStream> programStreams() override {
        std::lock_guard lock(mutex_);
        return programStreams_;
    }
    // Set by the test: the outputs whose sound an input records.
    void setFeedsInput(std::vector<AudioDeviceID> devices) {
        std::lock_guard lock(mutex_);
        feeds_ = std::move(devices);
    }
    bool feedsInput(AudioDeviceID device) override {
        std::lock_guard lock(mutex_);
        return std::find(feeds_.begin(), feeds_.end(), device) != feeds_.end();
    }
    // Set by the test: streams that the server will not move.
    void setUnmovable(std::vector<std::uint32_t> streams) {
        std::lock_guard lock(mutex_);
        unmovable_ = std::move(streams);
    }
    AudioStatus movePlaybackStream(std::uint32_t stream, AudioDeviceID device) override {
        std::lock_guard lock(mutex_);
        const auto it = std::find_if(streams_.begin(), streams_.end(),
                                     [stream](const PlaybackStream& s) { return s.id == stream; });
        if (it == streams_.end() || findLocked(device) == nullptr) {
            return audioStatusBadDevice;
        }
        if (std::find(unmovable_.begin(), unmovable_.end(), stream) != unmovable_.end()) {
            return audioStatusIllegalOperation;
        }
        it->device = device;
        return noErr;
    }
    // Nothing changes while a fake waits: the answer is the one of now.
    bool awaitPlaybackStreams(const std::function<bool(const std::vector<PlaybackStream>&)>& placed,
                              std::chrono::milliseconds) override {
        return placed(playbackStreams());
    }
    bool awaitDefaultOutput(AudioDeviceID device, std::chrono::milliseconds) override {
        return defaultOutputDevice() == device;
    }
    AggregateCreation createAggregateDevice(const QVariantMap& description) override {
        std::lock_guard lock(mutex_);
        descriptions_.push_back(description);
        if (creationStatus_ != noErr) {
            return {creationStatus_, noAudioDevice};
        }
        Device aggregate;
        aggregate.id = nextID_++;
        aggregate.name = description.value(aggregateKey::name).toString();
        aggregate.uid = description.value(aggregateKey::uid).toString();
        aggregate.output = true;
        aggregate.transport = transport::aggregate;
        aggregate.properties = description.value(aggregateKey::properties).toMap();
        for (const QVariant& sub : description.value(aggregateKey::subDevices).toList()) {
            const QString subUID = sub.toMap().value(aggregateKey::subDeviceUID).toString();
            for (const Device& d : devices_) {
                if (d.uid == subUID) {
                    aggregate.subDevices.push_back(d.id);
                }
            }
        }
        devices_.push_back(aggregate);
        return {noErr, aggregate.id};
    }
    AudioStatus destroyAggregateDevice(AudioDeviceID id) override {
        std::lock_guard lock(mutex_);
        const auto it = std::find_if(devices_.begin(), devices_.end(),
                                     [id](const Device& d) { return d.id == id; });
        if (it == devices_.end() || it->transport != transport::aggregate) {
            return audioStatusIllegalOperation;
        }
        destroyed_.push_back(id);
        devices_.erase(it);
        return noErr;
    }
    std::vector<AudioDeviceID> activeSubDevices(AudioDeviceID id) override {
        return read(id, [](const Device& d) { return std::optional(d.subDevices); })
            .value_or(std::vector<AudioDeviceID>());
    }
    OutputKind outputKind(AudioDeviceID id) override {
        return read(id, [](const Device& d) { return std::optional(d.outputKind); })
            .value_or(OutputKind::unknown);
    }
    std::optional<QString> property(AudioDeviceID id, const QString& key) override {
        return read(id, [&](const Device& d) {
            return d.properties.contains(key) ? std::optional(d.properties.value(key).toString())
                                              : std::nullopt;
        });
    }
    // Observers are told of the programs' streams (setProgramStreams) and of a device's other
    // port (setOutputKind) only: the devices change only when the test says so.
    std::shared_ptr<void> observeChanges(std::function<void()> handler) override {
        auto token = std::make_shared<std::function<void()>>(std::move(handler));
        std::lock_guard lock(mutex_);
        observers_.push_back(token);
        return token;
    }
    std::vector<AudioCaptureDevice> captureDevices() override {
        std::lock_guard lock(mutex_);
        return captureDevices_;
    }
    // The server names no default input.
    std::optional<QString> defaultCaptureDeviceUID() override { return std::nullopt; }
    std::optional<AudioCaptureDevice> monitorOf(AudioDeviceID output) override {
        return read(output, [](const Device& d) {
            return d.output ? d.monitor : std::optional<AudioCaptureDevice>();
        });
    }
    // A token per capture device that is kept running; the test sees which still live.
    std::shared_ptr<void> keepCaptureDeviceRunning(const QString& uniqueID) override {
        auto token = std::make_shared<QString>(uniqueID);
        std::lock_guard lock(mutex_);
        kept_.push_back(token);
        return token;
    }
    std::vector<QString> keptRunning() const {
        std::lock_guard lock(mutex_);
        std::vector<QString> alive;
        for (const auto& token : kept_) {
            if (const auto held = token.lock()) {
                alive.push_back(*held);
            }
        }
        return alive;
    }
    QString installedDriverPath() const override {
        std::lock_guard lock(mutex_);
        return driverPath_;
    }

private:
    const Device* findLocked(AudioDeviceID id) const {
        const auto it = std::find_if(devices_.begin(), devices_.end(),
                                     [id](const Device& d) { return d.id == id; });
        return it == devices_.end() ? nullptr : &*it;
    }
    Device* findLocked(AudioDeviceID id) {
        return const_cast<Device*>(std::as_const(*this).findLocked(id));
    }
    template <class Fn> auto read(AudioDeviceID id, Fn fn) const -> decltype(fn(Device())) {
        std::lock_guard lock(mutex_);
        const Device* found = findLocked(id);
        return found != nullptr ? fn(*found) : decltype(fn(Device()))();
    }
    template <class Fn> AudioStatus write(AudioDeviceID id, Fn fn) {
        std::lock_guard lock(mutex_);
        Device* found = findLocked(id);
        return found != nullptr ? fn(*found) : audioStatusBadDevice;
    }
    void tellObservers() {
        std::vector<std::shared_ptr<std::function<void()>>> handlers;
        {
            std::lock_guard lock(mutex_);
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

    mutable std::mutex mutex_; // guards every field below
    std::vector<Device> devices_;
    std::optional<AudioDeviceID> defaultOutput_;
    std::optional<ConfiguredDefaultOutput> configured_;
    AudioStatus creationStatus_ = noErr;
    std::vector<AudioCaptureDevice> captureDevices_;
    std::vector<QVariantMap> descriptions_;
    std::vector<PlaybackStream> streams_;
    std::vector<ProgramStream> programStreams_;
    std::vector<std::weak_ptr<std::function<void()>>> observers_;
    int ignoredSwitches_ = 0;
    std::vector<AudioDeviceID> feeds_;
    std::vector<std::uint32_t> unmovable_;
    std::vector<AudioDeviceID> destroyed_;
    AudioDeviceID nextID_ = 1000;
    QString driverPath_;
    std::vector<std::weak_ptr<QString>> kept_;
};

} // namespace orvo
