#include "platform/linux/sound/CombineSinkArguments.h"

#include <algorithm>

#include "platform/AudioHardware.h"
#include "platform/linux/sound/PulseConversions.h"

namespace orvo {

using pulse::quotableText;
using pulse::validServerName;

std::optional<CombineSinkArguments> combineSinkArguments(const QVariantMap& description) {
    const QString deviceName = description.value(aggregateKey::name).toString();
    const QString deviceUID = description.value(aggregateKey::uid).toString();
    QStringList subDevices;
    for (const QVariant& entry : description.value(aggregateKey::subDevices).toList()) {
        subDevices << entry.toMap().value(aggregateKey::subDeviceUID).toString();
    }
    QStringList sinkProperties{QStringLiteral("device.description='%1'").arg(deviceName)};
    const QVariantMap properties = description.value(aggregateKey::properties).toMap();
    bool propertiesValid = true;
    for (auto it = properties.begin(); it != properties.end(); ++it) {
        propertiesValid = propertiesValid && it.key().startsWith("orvo.") &&
                          validServerName(it.key()) && validServerName(it.value().toString());
        sinkProperties << it.key() + "=" + it.value().toString();
    }
    // Only the multi-output kind exists here: every sub-device plays the same sound.
    if (description.value(aggregateKey::stacked).toInt() != 1 || subDevices.isEmpty() ||
        !quotableText(deviceName) || !validServerName(deviceUID) || deviceUID.front().isDigit() ||
        !propertiesValid || !std::all_of(subDevices.begin(), subDevices.end(), validServerName)) {
        return std::nullopt;
    }
    const QByteArray text = QStringLiteral("sink_name=%1 slaves=%2 sink_properties=\"%3\"")
                                .arg(deviceUID, subDevices.join(','), sinkProperties.join(' '))
                                .toUtf8();
    return CombineSinkArguments{deviceUID, subDevices, text};
}

} // namespace orvo
