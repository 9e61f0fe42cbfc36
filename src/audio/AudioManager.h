#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include <QString>
#include <QVariantMap>

#include "platform/AudioHardware.h"

namespace orvo {

// The program's window onto the audio hardware: devices, the default output and its volume,
// and the multi-output device "ORVO Multi Device" that lets the driver hear what the user
// hears while a call is recorded. Static operations only; main thread only. Every call
// blocks until the audio hardware has answered (bounded by its timeout).
class AudioManager {
public:
    AudioManager() = delete;

    // The aggregate of the running recording and the output device to restore afterwards.
    // Main thread only.
    static inline AudioDeviceID currentAggreagteDeviceID = 0;
    static inline AudioDeviceID currentDefaultDeviceID = 0;

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

    // Destroys a leftover aggregate, remembers the default output and builds a new aggregate
    // of the driver device and the default output. Absent when no driver device exists;
    // otherwise the status of the creation, noErr on success. Does not change the default
    // output.
    static std::optional<AudioStatus> createAggregateDeviceWithDefaultDevice();
    // Destroys the aggregate of the running recording, when it still is one.
    static void removeAggregateDeviceWithDefaultDevice();

private:
    static QString getDeviceName(AudioDeviceID deviceID);
    static std::uint32_t getDeviceTransportType(AudioDeviceID deviceID);
    static std::optional<std::map<AudioDeviceID, QString>> devicesWhere(bool output);
    static QVariantMap aggregateDescription(const QString& driverUID, const QString& outputUID);
};

} // namespace orvo
