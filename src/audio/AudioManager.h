#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <QString>
#include <QVariantMap>

#include "audio/AudioRoute.h"
#include "platform/AudioHardware.h"

namespace orvo {

// The program's window onto the audio hardware: devices, the default output and its volume,
// and the multi-output device "ORVO Multi Device" that lets the driver hear what the user
// hears while a call is recorded. Static operations only: what a recording's devices are is
// the AudioRoute that the caller owns and passes in. Every call that changes devices
// blocks until the audio hardware has answered (bounded by its timeout): one thread at a time,
// and not the main thread while a server may hang.
class AudioManager {
public:
    AudioManager() = delete;

    // The properties that mark a combined output as ours, and name the user's device in it.
    static constexpr char roleProperty[] = "orvo.role";
    static constexpr char roleAggregate[] = "aggregate";
    static constexpr char userDeviceProperty[] = "orvo.user_sink";

    static std::vector<AudioDeviceID> getAllDevices();
    static bool isOutputDevice(AudioDeviceID deviceID);
    // The empty text when the UID cannot be read.
    static std::optional<QString> getDeviceUUID(AudioDeviceID deviceID);
    // Output devices by identifier, with their names; absent when no device can be listed.
    static std::optional<std::map<AudioDeviceID, QString>> getOutputDevices();
    // The other devices: inputs, by identifier, with their names.
    static std::optional<std::map<AudioDeviceID, QString>> inputAudioDevicesID();
    // What the tray lists and what a capture session records from.
    static std::vector<AudioCaptureDevice> inputAudioDevices();
    // Whether the input is one of the virtual driver's own.
    static bool isDriverInput(const AudioCaptureDevice& device);
    // The driver as a capture session records it, which brings back what the user hears;
    // absent while it is not installed.
    static std::optional<AudioCaptureDevice> driverCaptureDevice();
    static bool isAggregateDevice(AudioDeviceID deviceID);
    static std::vector<AudioDeviceID> getAggregateDeviceSubDeviceList(AudioDeviceID deviceID);
    // 0 when it cannot be read.
    static AudioDeviceID getDefaultOutputDevice();
    // Makes the device the default output and waits (bounded) until the server reports it so;
    // noErr only then.
    static AudioStatus setOutputDevice(AudioDeviceID newDeviceID);
    // 0.0 for a device without one volume or when it cannot be read.
    static float getVolumeDevice(AudioDeviceID deviceID);
    static void setVolumeDevice(float volume, AudioDeviceID deviceID);
    // Left and right channel volumes; 0.0 where they cannot be read.
    static std::array<float, 2> getDeviceVolume(AudioDeviceID deviceID);
    static void setDeviceVolume(AudioDeviceID deviceID, float leftChannelLevel,
                                float rightChannelLevel);
    static bool isUseDevice(AudioDeviceID deviceID);
    // Prints what is known of the device to standard output.
    static void info(AudioDeviceID deviceID);

    // Destroys a leftover aggregate, remembers the user's output (and the configured default)
    // in route and builds a new aggregate of the driver and that output. Absent when no driver
    // device exists; otherwise the status of the creation, noErr on success. Does not change
    // the default output. An aggregate made ahead by prepareAggregateDevice() for that output
    // serves instead of a new one.
    static std::optional<AudioStatus> createAggregateDeviceWithDefaultDevice(AudioRoute& route);
    // Makes the route's aggregate the default output and confirms it, trying once more when
    // the server did not take it; on failure the user's output is the default again. noErr on
    // success.
    static AudioStatus switchToAggregate(AudioRoute& route);
    // Brings every program's stream into the route: one left on the user's output moves to the
    // aggregate, one kept on another device moves to a combined output of the driver and that
    // device. followersMs: how long streams that follow the default are given to arrive on
    // their own first. How many streams that play are still outside the route.
    static int routeStreams(AudioRoute& route, int followersMs = 0);
    // After a recording: the user's output becomes the default again, the moved streams go
    // back where they were, the route's combined outputs go and the configured default output
    // is exactly what it was before, none when there was none. Leaves route empty. Blocks.
    static void restoreRoute(AudioRoute& route);
    // Destroys the route's combined outputs, those that still are.
    static void removeAggregateDeviceWithDefaultDevice(const AudioRoute& route);
    // While no recording runs: makes the aggregate of the driver and the user's output ahead
    // of a start, unless one of ours for both exists, and removes our others that are not the
    // default output. The default output stays. True when it built one.
    static bool prepareAggregateDevice();
    // Removes our combined outputs that are not the default output.
    static void removeIdleAggregateDevices();
    // Keeps the input device running while the token lives: a recording opened on it then
    // gets its audio at once. nullptr when it cannot be read.
    static std::shared_ptr<void> keepInputRunning(const QString& uniqueID);
    // Whether some program plays sound now, on any output. Never waits.
    static bool isProgramPlaying();
    // What the user listens through on the route's output now; unknown without one. Never
    // waits.
    static OutputKind userOutputKind(const AudioRoute& route);

    // Whether the device is a combined output this program made (of any run).
    static bool isOwnAggregateDevice(AudioDeviceID deviceID);
    // The user's output device that a combined output of ours plays to; absent for any
    // other device, or when that device is gone.
    static std::optional<AudioDeviceID> userDeviceOfAggregate(AudioDeviceID deviceID);
    // Start-up: removes the combined outputs of ours that an earlier run left; when one of
    // them was the default output, the user's device in it becomes the default again. How
    // many were removed.
    static int removeLeftoverAggregateDevices();
    // While recording, after the devices changed: when the default output is no longer the
    // route's aggregate because the user chose another output (or the sound server restarted
    // without it), builds a new aggregate of the driver and the user's current output, makes it
    // the default and removes the old one; the user's output is the one to restore from then
    // on. When it left for any other reason (one of our own devices, a session manager's
    // choice where the server tells the user's apart) the aggregate is put back. True when it
    // changed the default output.
    static bool followDefaultOutput(AudioRoute& route);
    // The output device with that UID; absent when there is none.
    static std::optional<AudioDeviceID> outputDeviceWithUID(const QString& uid);
    // handler runs on a thread of the audio hardware after the devices may have changed, for
    // as long as the returned token lives. Any thread.
    static std::shared_ptr<void> observeDeviceChanges(std::function<void()> handler);

private:
    static QString getDeviceName(AudioDeviceID deviceID);
    static std::uint32_t getDeviceTransportType(AudioDeviceID deviceID);
    static std::optional<std::map<AudioDeviceID, QString>> devicesWhere(bool output);
    static QString newAggregateUID();
    static QVariantMap aggregateDescription(const QString& driverUID, const QString& outputUID);
    // The driver's output device: named "ORVO", and not a combined output.
    static std::optional<AudioDeviceID> driverOutputDevice();
    // Ours, except those in keep.
    static void removeOwnAggregateDevices(const std::vector<AudioDeviceID>& keep = {});
    // Builds the aggregate of the driver and userOutput; its UID in aggregateUID on success.
    static std::optional<AudioStatus> buildAggregateWith(AudioDeviceID userOutput,
                                                         QString& aggregateUID);
    // The default output moves to device, once more when the first switch did not take.
    static AudioStatus switchDefaultTo(AudioDeviceID device);
    // The route's combined output for streams kept on device: the aggregate for the user's
    // output, a branch (made now when missing) for any other. Absent when none can be made.
    static std::optional<AudioDeviceID> routeFor(AudioRoute& route, AudioDeviceID device);
    static bool isOursOrDriver(AudioDeviceID device);
    // The aggregate of the driver and userOutput, built, and its UID; absent without a driver.
    static std::optional<std::pair<AggregateCreation, QString>>
    makeAggregateWith(AudioDeviceID userOutput);
    // The user's output the default output stands for: the user's device in ours.
    static AudioDeviceID userOutputOfDefault();
    // One of ours that plays to userOutput and to the driver, the default output or not.
    static std::optional<AudioDeviceID> aggregateReadyFor(AudioDeviceID userOutput);
};

} // namespace orvo
