#pragma once

#include <cstdint>
#include <optional>

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <pulse/def.h>
#include <pulse/volume.h>

#include "platform/AudioHardware.h"

// How the port's device identifiers and values map onto the sound server's.
namespace orvo::pulse {

// Sinks and sources have index spaces of their own; a device identifier keeps them apart
// with its top bit and keeps 0 free for "no device".
constexpr AudioDeviceID sourceBit = 0x80000000u;

inline AudioDeviceID sinkID(std::uint32_t index) {
    return index + 1;
}
inline AudioDeviceID sourceID(std::uint32_t index) {
    return sourceBit | (index + 1);
}
inline bool representable(std::uint32_t index) {
    return index < sourceBit - 1;
}

struct DeviceRef {
    bool isSource = false;
    std::uint32_t index = UINT32_MAX;
};
std::optional<DeviceRef> decode(AudioDeviceID device);

// The port's transport type of a device on a bus ("usb", "bluetooth", "pci", ...).
std::uint32_t busTransport(const QByteArray& bus, bool hardware);

// What the user listens through on a sink: the type of its active port when that tells, else
// the device's form factor (PA_PROP_DEVICE_FORM_FACTOR), as a USB headset's sink says it.
OutputKind outputKindOf(std::optional<std::uint32_t> activePortType, const QByteArray& formFactor);

float toScalar(pa_volume_t volume);
pa_volume_t toVolume(float scalar);

// What the server accepts as a device name (the rule of pa_namereg_is_valid_name).
bool validServerName(const QString& name);
// A description travels inside quotes of a module argument: quotes and backslashes would end
// or escape them.
bool quotableText(const QString& text);
// The sinks a combined output's module argument plays to.
QStringList slavesOf(const QString& moduleArgument);
// The sources a module argument reads from: its "master=" and "source=" values.
QStringList sourcesOf(const QString& moduleArgument);

} // namespace orvo::pulse
