#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QString>
#include <QVariantMap>

#include "platform/OutputKind.h"
#include "platform/Port.h"

namespace orvo {

// A device of the audio hardware. 0 names no device; identifiers stay valid for as long as
// the sound server keeps running.
using AudioDeviceID = std::uint32_t;
constexpr AudioDeviceID noAudioDevice = 0;

// The outcome of a change to the audio hardware: 0 is success, anything else a failure.
using AudioStatus = std::int32_t;

constexpr std::uint32_t fourCharCode(const char (&code)[5]) {
    return std::uint32_t(std::uint8_t(code[0])) << 24 | std::uint32_t(std::uint8_t(code[1])) << 16 |
           std::uint32_t(std::uint8_t(code[2])) << 8 | std::uint32_t(std::uint8_t(code[3]));
}

constexpr AudioStatus noErr = 0;
constexpr AudioStatus audioStatusUnspecified = AudioStatus(fourCharCode("what"));
constexpr AudioStatus audioStatusBadDevice = AudioStatus(fourCharCode("!dev"));
constexpr AudioStatus audioStatusIllegalOperation = AudioStatus(fourCharCode("nope"));
constexpr AudioStatus audioStatusNotRunning = AudioStatus(fourCharCode("stop"));
constexpr AudioStatus audioStatusTimeout = AudioStatus(fourCharCode("time"));

// How a device is attached. Unknown is 0, as when the type cannot be read.
namespace transport {
constexpr std::uint32_t unknown = 0;
constexpr std::uint32_t builtIn = fourCharCode("bltn");
constexpr std::uint32_t usb = fourCharCode("usb ");
constexpr std::uint32_t bluetooth = fourCharCode("blue");
constexpr std::uint32_t virtualDevice = fourCharCode("virt");
constexpr std::uint32_t aggregate = fourCharCode("grup");
} // namespace transport

// Keys of an aggregate device description: a multi-output device made of sub-devices.
namespace aggregateKey {
inline constexpr char name[] = "name";             // text shown as the device's name
inline constexpr char uid[] = "uid";               // text, the new device's UID
inline constexpr char subDevices[] = "subdevices"; // list of maps, each {"uid": text}
inline constexpr char subDeviceUID[] = "uid";
inline constexpr char master[] = "master";   // UID of the sub-device that gives the clock
inline constexpr char stacked[] = "stacked"; // 1: every sub-device plays the same sound
// A map of text properties the device carries, read back with AudioHardware::property; keys
// begin with "orvo.".
inline constexpr char properties[] = "properties";
} // namespace aggregateKey

// A device that sound can be recorded from, as the capture session names it.
struct AudioCaptureDevice {
    QString localizedName;
    QString uniqueID; // what a capture session opens the device by
};

// The default output a user chose, as a server keeps it apart from the default of the moment
// (PipeWire's configured default). Making a device the default overwrites it.
struct ConfiguredDefaultOutput {
    std::optional<QString> value;     // exactly as the server keeps it; absent: none chosen
    std::optional<QString> deviceUID; // the device it names, when that can be read from it
    bool operator==(const ConfiguredDefaultOutput&) const = default;
};

// A program's playback stream: what it plays into now.
struct PlaybackStream {
    std::uint32_t id = 0;                 // the server's, for as long as the stream lives
    AudioDeviceID device = noAudioDevice; // none while the server has not placed it yet
    bool paused = false;
};

// A program's stream as the server shows it, read without opening one: enough to tell a
// call from a voice note, a level meter or a screen recorder's capture.
struct ProgramStream {
    enum class Direction { capture, playback };
    std::uint32_t id = 0; // the server's, unique within a direction while the stream lives
    Direction direction = Direction::playback;
    bool paused = false;
    std::uint32_t rate = 0;    // samples a second; 0 when unknown
    bool readsOutput = false;  // a capture of an output's monitor
    bool measuresOnly = false; // peak detection, or marked as a monitor stream
    std::optional<std::int64_t> processID;
    QString applicationName;
    QString processBinary;
    QString mediaRole; // "phone", "production", ...
    bool operator==(const ProgramStream&) const = default;
};

struct AggregateCreation {
    AudioStatus status = audioStatusUnspecified;
    AudioDeviceID device = noAudioDevice; // set when status is noErr
};

// The machine's audio devices, their default output and volumes, and the multi-output
// devices that the program builds. Any thread may call. Reads and volume changes never wait
// on the sound server: they answer from what it reported last. Other changes block until
// the server answers or its timeout passes; once they return, reads show their effect.
// Without a reachable server reads fail and lists are empty, at once.
class AudioHardware : public Port {
public:
    // Every device, outputs and inputs, in the server's order.
    virtual std::vector<AudioDeviceID> devices() = 0;
    virtual bool hasOutputStreams(AudioDeviceID device) = 0;
    virtual std::optional<QString> name(AudioDeviceID device) = 0;
    virtual std::optional<QString> uid(AudioDeviceID device) = 0;
    virtual std::optional<std::uint32_t> transportType(AudioDeviceID device) = 0;

    virtual std::optional<AudioDeviceID> defaultOutputDevice() = 0;
    virtual AudioStatus setDefaultOutputDevice(AudioDeviceID device) = 0;

    // The one volume of an output device, 0.0 to 1.0.
    virtual bool hasVirtualMainVolume(AudioDeviceID device) = 0;
    virtual std::optional<float> virtualMainVolume(AudioDeviceID device) = 0;
    virtual AudioStatus setVirtualMainVolume(AudioDeviceID device, float volume) = 0;

    // Channel numbers count from 1, left first.
    virtual std::optional<std::array<std::uint32_t, 2>>
    preferredStereoChannels(AudioDeviceID device) = 0;
    virtual std::optional<float> channelVolume(AudioDeviceID device, std::uint32_t channel) = 0;
    virtual AudioStatus setChannelVolume(AudioDeviceID device, std::uint32_t channel,
                                         float volume) = 0;

    // Whether some program plays to or records from the device now.
    virtual std::optional<bool> isRunningSomewhere(AudioDeviceID device) = 0;

    // The playback streams of programs, not those the server's own devices play (a combined
    // output's feeds, loopbacks). Never waits.
    virtual std::vector<PlaybackStream> playbackStreams() = 0;
    // Every program's capture and playback stream, the server's own devices' excluded. Never
    // waits; observeChanges tells when they change.
    virtual std::vector<ProgramStream> programStreams() = 0;
    // Whether what plays into the output device is an input's sound (a virtual microphone's
    // feed: a source of the server reads the device's monitor), not what a user listens to.
    virtual bool feedsInput(AudioDeviceID device) = 0;
    // Blocks. Moves the stream to the output device; the server may remember the device for
    // the program's next stream, as it does when the user moves one.
    virtual AudioStatus movePlaybackStream(std::uint32_t stream, AudioDeviceID device) = 0;
    // Blocks at most timeout until the playback streams satisfy placed, asking it anew on each of
    // the server's events; placed runs under the backend's lock and must not call it. False when
    // they do not by then.
    virtual bool
    awaitPlaybackStreams(const std::function<bool(const std::vector<PlaybackStream>&)>& placed,
                         std::chrono::milliseconds timeout) = 0;
    // Blocks at most timeout until the server has reported device as the default output, asking
    // it anew on each of its events. False when it has not by then.
    virtual bool awaitDefaultOutput(AudioDeviceID device, std::chrono::milliseconds timeout) = 0;

    // Blocks. The user's configured default output; absent where the server keeps none apart
    // from the default output itself, or it cannot be read.
    virtual std::optional<ConfiguredDefaultOutput> configuredDefaultOutput() = 0;
    // Blocks. Puts back what configuredDefaultOutput read, removing it when none was chosen.
    virtual AudioStatus setConfiguredDefaultOutput(const ConfiguredDefaultOutput& configured) = 0;

    // description: see aggregateKey.
    virtual AggregateCreation createAggregateDevice(const QVariantMap& description) = 0;
    virtual AudioStatus destroyAggregateDevice(AudioDeviceID device) = 0;
    virtual std::vector<AudioDeviceID> activeSubDevices(AudioDeviceID aggregate) = 0;

    // A text property the device was made with (aggregateKey::properties); absent when it
    // has none of that key.
    virtual std::optional<QString> property(AudioDeviceID device, const QString& key) = 0;
    // What the output device plays through now (its active port, else the device's own form);
    // unknown when it does not say, and for no output. Never waits.
    virtual OutputKind outputKind(AudioDeviceID device) = 0;

    // handler runs, on a thread of the backend, after the devices, the default output or the
    // server's reachability may have changed, for as long as the returned token lives.
    virtual std::shared_ptr<void> observeChanges(std::function<void()> handler) = 0;

    // The devices a capture session can record from, in the platform's order.
    virtual std::vector<AudioCaptureDevice> captureDevices() = 0;
    // The uniqueID of the input the user chose as default; absent when none is known.
    virtual std::optional<QString> defaultCaptureDeviceUID() = 0;
    // What plays into the output device, as a capture session records it (the device's
    // monitor); absent for a device that is no output or has none.
    virtual std::optional<AudioCaptureDevice> monitorOf(AudioDeviceID output) = 0;
    // Keeps the capture device running, for as long as the returned token lives, so that a
    // recording opened on it gets its audio at once; nullptr when it cannot be read.
    virtual std::shared_ptr<void> keepCaptureDeviceRunning(const QString& uniqueID) = 0;

    // Where the driver's install script puts the installed driver (a directory). A test's
    // backend names a private folder instead.
    virtual QString installedDriverPath() const { return standardInstalledDriverPath(); }
    static QString standardInstalledDriverPath() {
        return QStringLiteral("/var/lib/orvo-call-recorder/ORVO Record Device.driver");
    }
};

} // namespace orvo
