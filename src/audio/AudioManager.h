#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <QString>
#include <QVariantMap>

#include "platform/AudioHardware.h"

namespace orvo {

// The program's window onto the audio hardware: devices, the default output and its volume,
// and the multi-output device "ORVO Multi Device" that lets the driver hear what the user
// hears while a call is recorded. Static operations only. Every call that changes devices
// blocks until the audio hardware has answered (bounded by its timeout): one thread at a time,
// and not the main thread while a server may hang.
class AudioManager {
public:
    AudioManager() = delete;

    // The aggregate of the running recording and the output device to restore afterwards.
    // Any thread: set by whichever thread does the device work; the volume row reads them.
    static AudioDeviceID currentAggreagteDeviceID() { return aggregateDeviceID_; }
    static void setCurrentAggreagteDeviceID(AudioDeviceID device) { aggregateDeviceID_ = device; }
    static AudioDeviceID currentDefaultDeviceID() { return defaultDeviceID_; }
    static void setCurrentDefaultDeviceID(AudioDeviceID device) { defaultDeviceID_ = device; }
    // The same two devices by UID: identifiers do not outlive a restart of the sound server.
    // Only the thread that does the device work touches them.
    static inline QString currentAggregateDeviceUID;
    static inline QString currentDefaultDeviceUID;
    // The user's configured default output as it was before the aggregate became the default;
    // absent where the server keeps none. Only the thread that does the device work touches it.
    static inline std::optional<ConfiguredDefaultOutput> currentConfiguredDefault;

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
    static bool isAggregateDevice(AudioDeviceID deviceID);
    static std::vector<AudioDeviceID> getAggregateDeviceSubDeviceList(AudioDeviceID deviceID);
    // 0 when it cannot be read.
    static AudioDeviceID getDefaultOutputDevice();
    static void setOutputDevice(AudioDeviceID newDeviceID);
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

    // Destroys a leftover aggregate, remembers the default output (and the configured one) and
    // builds a new aggregate
    // of the driver device and the default output. Absent when no driver device exists;
    // otherwise the status of the creation, noErr on success. Does not change the default
    // output. An aggregate made ahead by prepareAggregateDevice() for that output serves
    // instead of a new one.
    static std::optional<AudioStatus> createAggregateDeviceWithDefaultDevice();
    // While no recording runs: makes the aggregate of the driver and the user's output ahead
    // of a start, unless one of ours for both exists, and removes our others that are not the
    // default output. The default output stays. True when it built one.
    static bool prepareAggregateDevice();
    // Removes our combined outputs that are not the default output.
    static void removeIdleAggregateDevices();
    // Keeps the input device running while the token lives: a recording opened on it then
    // gets its audio at once. nullptr when it cannot be read.
    static std::shared_ptr<void> keepInputRunning(const QString& uniqueID);
    // Destroys the aggregate of the running recording, when it still is one.
    static void removeAggregateDeviceWithDefaultDevice();
    // After the default output went back to currentDefaultDeviceID(): the configured default
    // output becomes exactly what it was before the recording, none when there was none.
    // Once per recording; blocks.
    static void restoreConfiguredDefaultOutput();
    // Whether some program plays into the aggregate of the running recording. Never waits.
    static bool isPlayingIntoAggregate();

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
    // running recording's aggregate (the user chose another output, or the sound server
    // restarted without it), builds a new aggregate of the driver and the user's current
    // output, makes it the default and removes the old one; the user's output is the one to
    // restore from then on. True when it rebuilt.
    static bool followDefaultOutput();
    // handler runs on a thread of the audio hardware after the devices may have changed, for
    // as long as the returned token lives. Any thread.
    static std::shared_ptr<void> observeDeviceChanges(std::function<void()> handler);

private:
    static inline std::atomic<AudioDeviceID> aggregateDeviceID_ = 0;
    static inline std::atomic<AudioDeviceID> defaultDeviceID_ = 0;

    static QString getDeviceName(AudioDeviceID deviceID);
    static std::uint32_t getDeviceTransportType(AudioDeviceID deviceID);
    static std::optional<std::map<AudioDeviceID, QString>> devicesWhere(bool output);
    static QVariantMap aggregateDescription(const QString& driverUID, const QString& outputUID);
    // The driver's output device: named "ORVO", and not a combined output.
    static std::optional<AudioDeviceID> driverOutputDevice();
    static std::optional<AudioDeviceID> outputDeviceWithUID(const QString& uid);
    // Ours, except those in keep.
    static void removeOwnAggregateDevices(const std::vector<AudioDeviceID>& keep = {});
    // Builds the aggregate of the driver and userOutput and remembers both.
    static std::optional<AudioStatus> buildAggregateWith(AudioDeviceID userOutput);
    // The aggregate of the driver and userOutput, built, and its UID; absent without a driver.
    static std::optional<std::pair<AggregateCreation, QString>>
    makeAggregateWith(AudioDeviceID userOutput);
    // The user's output the default output stands for: the user's device in ours.
    static AudioDeviceID userOutputOfDefault();
    // One of ours that plays to userOutput and to the driver, the default output or not.
    static std::optional<AudioDeviceID> aggregateReadyFor(AudioDeviceID userOutput);
};

} // namespace orvo
