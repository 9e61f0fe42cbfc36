#include "platform/linux/sound/PulseConversions.h"

#include <algorithm>
#include <cmath>

#include <QRegularExpression>

namespace orvo::pulse {

std::optional<DeviceRef> decode(AudioDeviceID device) {
    const std::uint32_t number = device & ~sourceBit;
    if (number == 0) {
        return std::nullopt;
    }
    return DeviceRef{(device & sourceBit) != 0, number - 1};
}

std::uint32_t busTransport(const QByteArray& bus, bool hardware) {
    if (bus == "usb") {
        return transport::usb;
    }
    if (bus == "bluetooth") {
        return transport::bluetooth;
    }
    if (bus == "pci" || bus == "isa" || bus == "platform") {
        return transport::builtIn;
    }
    return hardware ? transport::unknown : transport::virtualDevice;
}

OutputKind outputKindOf(std::optional<std::uint32_t> activePortType, const QByteArray& formFactor) {
    switch (activePortType.value_or(PA_DEVICE_PORT_TYPE_UNKNOWN)) {
    case PA_DEVICE_PORT_TYPE_HEADPHONES:
        return OutputKind::headphones;
    case PA_DEVICE_PORT_TYPE_HEADSET:
        return OutputKind::headset;
    case PA_DEVICE_PORT_TYPE_EARPIECE:
    case PA_DEVICE_PORT_TYPE_HANDSET:
        return OutputKind::earpiece;
    case PA_DEVICE_PORT_TYPE_SPEAKER:
    case PA_DEVICE_PORT_TYPE_HANDSFREE:
    case PA_DEVICE_PORT_TYPE_PORTABLE:
    case PA_DEVICE_PORT_TYPE_CAR:
    case PA_DEVICE_PORT_TYPE_HIFI:
    case PA_DEVICE_PORT_TYPE_TV:
        return OutputKind::speakers;
    default:
        break;
    }
    // Ports of a line, an HDMI or an analog output say nothing of what is plugged in there.
    if (formFactor == "headphone") {
        return OutputKind::headphones;
    }
    if (formFactor == "headset") {
        return OutputKind::headset;
    }
    if (formFactor == "handset") {
        return OutputKind::earpiece;
    }
    if (formFactor == "speaker" || formFactor == "hands-free" || formFactor == "portable" ||
        formFactor == "car" || formFactor == "hifi" || formFactor == "tv") {
        return OutputKind::speakers;
    }
    return OutputKind::unknown;
}

float toScalar(pa_volume_t volume) {
    return std::clamp(float(volume) / float(PA_VOLUME_NORM), 0.0f, 1.0f);
}

pa_volume_t toVolume(float scalar) {
    return pa_volume_t(std::lround(double(std::clamp(scalar, 0.0f, 1.0f)) * PA_VOLUME_NORM));
}

bool validServerName(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_.-]{1,127}$"));
    return pattern.match(name).hasMatch();
}

bool quotableText(const QString& text) {
    return !text.isEmpty() && !text.contains('\'') && !text.contains('"') && !text.contains('\\') &&
           std::none_of(text.begin(), text.end(),
                        [](QChar c) { return c.category() == QChar::Other_Control; });
}

QStringList slavesOf(const QString& moduleArgument) {
    static const QRegularExpression pattern(QStringLiteral("(?:^|\\s)slaves=(\\S+)"));
    const auto match = pattern.match(moduleArgument);
    return match.hasMatch() ? match.captured(1).split(',', Qt::SkipEmptyParts) : QStringList();
}

QStringList sourcesOf(const QString& moduleArgument) {
    static const QRegularExpression pattern(
        QStringLiteral("(?:^|\\s)(?:master|source)=(?:\"([^\"]*)\"|(\\S+))"));
    QStringList sources;
    for (auto it = pattern.globalMatch(moduleArgument); it.hasNext();) {
        const auto match = it.next();
        sources << (match.capturedLength(1) > 0 ? match.captured(1) : match.captured(2));
    }
    return sources;
}

} // namespace orvo::pulse
