#include "audio/AudioManager.h"

#include <QUuid>
#include <QVariantList>

#include "platform/Platform.h"
#include "shell/Console.h"

namespace orvo {
namespace {

AudioHardware& hardware() {
    return Platform::shared().get<AudioHardware>();
}

const QString aggregateName = QStringLiteral("ORVO Multi Device");
const QString driverNameMark = QStringLiteral("ORVO");

} // namespace

std::vector<AudioDeviceID> AudioManager::getAllDevices() {
    return hardware().devices();
}

bool AudioManager::isOutputDevice(AudioDeviceID deviceID) {
    return hardware().hasOutputStreams(deviceID);
}

QString AudioManager::getDeviceName(AudioDeviceID deviceID) {
    return hardware().name(deviceID).value_or(QString());
}

std::optional<QString> AudioManager::getDeviceUUID(AudioDeviceID deviceID) {
    return hardware().uid(deviceID).value_or(QString());
}

std::optional<std::map<AudioDeviceID, QString>> AudioManager::devicesWhere(bool output) {
    const auto devices = getAllDevices();
    if (devices.empty()) {
        return std::nullopt;
    }
    std::map<AudioDeviceID, QString> names;
    for (AudioDeviceID device : devices) {
        if (isOutputDevice(device) == output) {
            names[device] = getDeviceName(device);
        }
    }
    return names;
}

std::optional<std::map<AudioDeviceID, QString>> AudioManager::getOutputDevices() {
    return devicesWhere(true);
}

std::optional<std::map<AudioDeviceID, QString>> AudioManager::inputAudioDevicesID() {
    return devicesWhere(false);
}

std::vector<AudioCaptureDevice> AudioManager::inputAudioDevices() {
    return hardware().captureDevices();
}

std::uint32_t AudioManager::getDeviceTransportType(AudioDeviceID deviceID) {
    return hardware().transportType(deviceID).value_or(transport::unknown);
}

bool AudioManager::isAggregateDevice(AudioDeviceID deviceID) {
    return getDeviceTransportType(deviceID) == transport::aggregate;
}

std::vector<AudioDeviceID> AudioManager::getAggregateDeviceSubDeviceList(AudioDeviceID deviceID) {
    return hardware().activeSubDevices(deviceID);
}

AudioDeviceID AudioManager::getDefaultOutputDevice() {
    return hardware().defaultOutputDevice().value_or(noAudioDevice);
}

void AudioManager::setOutputDevice(AudioDeviceID newDeviceID) {
    hardware().setDefaultOutputDevice(newDeviceID);
}

float AudioManager::getVolumeDevice(AudioDeviceID deviceID) {
    if (!hardware().hasVirtualMainVolume(deviceID)) {
        return 0.0f;
    }
    return hardware().virtualMainVolume(deviceID).value_or(0.0f);
}

void AudioManager::setVolumeDevice(float volume, AudioDeviceID deviceID) {
    hardware().setVirtualMainVolume(deviceID, volume);
}

std::array<float, 2> AudioManager::getDeviceVolume(AudioDeviceID deviceID) {
    std::array<float, 2> volumes{0.0f, 0.0f};
    const auto channels = hardware().preferredStereoChannels(deviceID);
    if (!channels) {
        return volumes;
    }
    volumes[0] = hardware().channelVolume(deviceID, (*channels)[0]).value_or(0.0f);
    volumes[1] = hardware().channelVolume(deviceID, (*channels)[1]).value_or(0.0f);
    return volumes;
}

void AudioManager::setDeviceVolume(AudioDeviceID deviceID, float leftChannelLevel,
                                   float rightChannelLevel) {
    const auto channels = hardware().preferredStereoChannels(deviceID);
    if (!channels) {
        return;
    }
    hardware().setChannelVolume(deviceID, (*channels)[0], leftChannelLevel);
    hardware().setChannelVolume(deviceID, (*channels)[1], rightChannelLevel);
}

bool AudioManager::isUseDevice(AudioDeviceID deviceID) {
    return hardware().isRunningSomewhere(deviceID).value_or(false);
}

void AudioManager::info(AudioDeviceID deviceID) {
    const std::uint32_t transportType = getDeviceTransportType(deviceID);
    QByteArray code(4, ' ');
    for (int i = 0; i < 4; ++i) {
        const char c = char((transportType >> (8 * (3 - i))) & 0xff);
        code[i] = c >= 0x20 && c < 0x7f ? c : '.';
    }
    consoleLine(QStringLiteral("device %1 \"%2\" uid %3 transport '%4' output %5 running %6")
                    .arg(deviceID)
                    .arg(getDeviceName(deviceID), getDeviceUUID(deviceID).value_or(QString()),
                         QString::fromLatin1(code))
                    .arg(isOutputDevice(deviceID))
                    .arg(isUseDevice(deviceID)));
}

QVariantMap AudioManager::aggregateDescription(const QString& driverUID, const QString& outputUID) {
    const QVariantList subDevices{QVariantMap{{aggregateKey::subDeviceUID, driverUID}},
                                  QVariantMap{{aggregateKey::subDeviceUID, outputUID}}};
    return QVariantMap{
        {aggregateKey::name, aggregateName},
        {aggregateKey::uid, QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()},
        {aggregateKey::subDevices, subDevices},
        {aggregateKey::master, outputUID},
        {aggregateKey::stacked, 1},
    };
}

std::optional<AudioStatus> AudioManager::createAggregateDeviceWithDefaultDevice() {
    // A leftover of an earlier recording or of a killed process; only the first one found.
    for (AudioDeviceID device : getAllDevices()) {
        if (isAggregateDevice(device)) {
            hardware().destroyAggregateDevice(device);
            break;
        }
    }

    currentDefaultDeviceID = getDefaultOutputDevice();

    const auto outputs = getOutputDevices();
    if (!outputs) {
        return std::nullopt;
    }
    std::optional<AudioDeviceID> driver;
    for (const auto& [device, name] : *outputs) {
        if (name.contains(driverNameMark, Qt::CaseSensitive)) {
            driver = device;
            break;
        }
    }
    if (!driver) {
        return std::nullopt;
    }

    const QString driverUID = getDeviceUUID(*driver).value_or(QString());
    const QString outputUID = getDeviceUUID(currentDefaultDeviceID).value_or(QString());
    const AggregateCreation created =
        hardware().createAggregateDevice(aggregateDescription(driverUID, outputUID));
    if (created.status == noErr) {
        currentAggreagteDeviceID = created.device;
    }
    return created.status;
}

void AudioManager::removeAggregateDeviceWithDefaultDevice() {
    if (isAggregateDevice(currentAggreagteDeviceID)) {
        hardware().destroyAggregateDevice(currentAggreagteDeviceID);
    }
}

} // namespace orvo
