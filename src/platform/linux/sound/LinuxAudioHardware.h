#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

#include <QByteArray>

#include "platform/AudioHardware.h"

namespace orvo {

class PipeWireMetadata;
class PulseRequests;
class PulseDeviceCache;
struct PulseDeviceSnapshot;
class PulseSession;

// The audio hardware as a PulseAudio or PipeWire-pulse server shows it: sinks are the output
// devices, sources other than monitors the input and capture devices; a device's name is its
// description and its UID its server name. Aggregates are module-combine-sink instances.
// Any thread. Reads and volume changes answer from a cache that the server's events keep
// up to date, and never wait on it. Other changes are serialised and block at most about
// three times the call timeout (connecting, their requests, the cache catching up); after a
// timeout the server gets a pause in which changes fail at once. The combined outputs that
// createAggregateDevice makes carry their description's properties as sink properties.
// The configured default output exists on PipeWire only: its "default" metadata, which
// pipewire-pulse writes on every new default sink.
class LinuxAudioHardware final : public AudioHardware {
public:
    struct Options {
        std::optional<QByteArray> server; // absent: the user's server; tests name a private one
        QString driverRoot;               // tests: where the installed driver lives instead of /
        std::chrono::milliseconds callTimeout{2000};
    };

    LinuxAudioHardware();
    explicit LinuxAudioHardware(Options options);
    ~LinuxAudioHardware() override;

    std::vector<AudioDeviceID> devices() override;
    bool hasOutputStreams(AudioDeviceID device) override;
    std::optional<QString> name(AudioDeviceID device) override;
    std::optional<QString> uid(AudioDeviceID device) override;
    std::optional<std::uint32_t> transportType(AudioDeviceID device) override;
    std::optional<AudioDeviceID> defaultOutputDevice() override;
    AudioStatus setDefaultOutputDevice(AudioDeviceID device) override;
    bool hasVirtualMainVolume(AudioDeviceID device) override;
    std::optional<float> virtualMainVolume(AudioDeviceID device) override;
    AudioStatus setVirtualMainVolume(AudioDeviceID device, float volume) override;
    std::optional<std::array<std::uint32_t, 2>>
    preferredStereoChannels(AudioDeviceID device) override;
    std::optional<float> channelVolume(AudioDeviceID device, std::uint32_t channel) override;
    AudioStatus setChannelVolume(AudioDeviceID device, std::uint32_t channel,
                                 float volume) override;
    std::optional<bool> isRunningSomewhere(AudioDeviceID device) override;
    std::vector<PlaybackStream> playbackStreams() override;
    std::vector<ProgramStream> programStreams() override;
    bool feedsInput(AudioDeviceID device) override;
    AudioStatus movePlaybackStream(std::uint32_t stream, AudioDeviceID device) override;
    bool awaitPlaybackStreams(const std::function<bool(const std::vector<PlaybackStream>&)>& placed,
                              std::chrono::milliseconds timeout) override;
    bool awaitDefaultOutput(AudioDeviceID device, std::chrono::milliseconds timeout) override;
    std::optional<ConfiguredDefaultOutput> configuredDefaultOutput() override;
    AudioStatus setConfiguredDefaultOutput(const ConfiguredDefaultOutput& configured) override;
    AggregateCreation createAggregateDevice(const QVariantMap& description) override;
    AudioStatus destroyAggregateDevice(AudioDeviceID device) override;
    std::vector<AudioDeviceID> activeSubDevices(AudioDeviceID aggregate) override;
    std::optional<QString> property(AudioDeviceID device, const QString& key) override;
    OutputKind outputKind(AudioDeviceID device) override;
    std::shared_ptr<void> observeChanges(std::function<void()> handler) override;
    std::vector<AudioCaptureDevice> captureDevices() override;
    std::optional<QString> defaultCaptureDeviceUID() override;
    std::optional<AudioCaptureDevice> monitorOf(AudioDeviceID output) override;
    std::shared_ptr<void> keepCaptureDeviceRunning(const QString& uniqueID) override;
    QString installedDriverPath() const override;

    // Whether the server has a source (monitors included) of this name. Answered from what
    // the kept connection knows; asked anew only for one not known yet, which may have come
    // just now. Never waits for a server that is gone.
    bool hasSource(const QByteArray& name);

private:
    // With mutex_ held: the connected session, made anew when the last one broke; nullptr
    // without a server, and for a while after a server let a call wait for its timeout.
    PulseSession* sessionLocked();
    template <class Result, class Fn>
    Result withServer(Result notRunning, Result noAnswer, Fn&& fn);
    template <class Result, class Fn>
    Result withSink(AudioDeviceID device, Result missing, Result notRunning, Result noAnswer,
                    Fn&& fn);
    // Loads the combined output over subDevices and checks that its sink is there.
    static AggregateCreation loadAggregate(PulseRequests& server, PulseDeviceCache& cache,
                                           const QStringList& subDevices, const QString& deviceUID,
                                           const QByteArray& arguments);

    std::shared_ptr<const PulseDeviceSnapshot> known() const;
    static std::vector<PlaybackStream> streamsOf(const PulseDeviceSnapshot& snapshot);
    // After a change: waits (bounded by the call timeout) until the cache shows it.
    bool catchUp();
    // The metadata of the PipeWire behind the server; absent on PulseAudio, and for a named
    // server whose PipeWire cannot be told from its address.
    std::optional<PipeWireMetadata> pipeWireMetadata() const;

    const Options options_;
    std::unique_ptr<PulseDeviceCache> cache_;
    std::mutex mutex_; // guards session_ and quietUntil_; serialises every request
    std::unique_ptr<PulseSession> session_;
    std::chrono::steady_clock::time_point quietUntil_;
};

} // namespace orvo
