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
