#include "audio/AudioManager.h"

#include <algorithm>
#include <utility>

#include <QUuid>
#include <QVariantList>

#include "platform/Platform.h"
#include "shell/Console.h"
#include "shell/Logging.h"

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
        {aggregateKey::properties,
         QVariantMap{{roleProperty, roleAggregate}, {userDeviceProperty, outputUID}}},
    };
}

bool AudioManager::isOwnAggregateDevice(AudioDeviceID deviceID) {
    return hardware().property(deviceID, roleProperty) == QString(roleAggregate);
}

std::optional<AudioDeviceID> AudioManager::userDeviceOfAggregate(AudioDeviceID deviceID) {
    if (!isOwnAggregateDevice(deviceID)) {
        return std::nullopt;
    }
    return outputDeviceWithUID(hardware().property(deviceID, userDeviceProperty).value_or(""));
}

std::optional<AudioDeviceID> AudioManager::outputDeviceWithUID(const QString& uid) {
    if (uid.isEmpty()) {
        return std::nullopt;
    }
    for (AudioDeviceID device : getAllDevices()) {
        if (isOutputDevice(device) && getDeviceUUID(device) == uid) {
            return device;
        }
    }
    return std::nullopt;
}

std::optional<AudioDeviceID> AudioManager::driverOutputDevice() {
    // The combined output is named after the driver too: it must never stand in for it.
    for (AudioDeviceID device : getAllDevices()) {
        if (isOutputDevice(device) &&
            getDeviceName(device).contains(driverNameMark, Qt::CaseSensitive) &&
            !isAggregateDevice(device)) {
            return device;
        }
    }
    return std::nullopt;
}

void AudioManager::removeOwnAggregateDevices(const std::vector<AudioDeviceID>& keep) {
    // Only ours: a combined output the user made is theirs to keep.
    for (AudioDeviceID device : getAllDevices()) {
        if (isOwnAggregateDevice(device) &&
            std::find(keep.begin(), keep.end(), device) == keep.end()) {
            hardware().destroyAggregateDevice(device);
        }
    }
}

void AudioManager::removeIdleAggregateDevices() {
    removeOwnAggregateDevices({getDefaultOutputDevice()});
}

int AudioManager::removeLeftoverAggregateDevices() {
    int count = 0;
    for (AudioDeviceID device : getAllDevices()) {
        count += isOwnAggregateDevice(device) ? 1 : 0;
    }
    if (count == 0) {
        return 0;
    }
    if (const auto user = userDeviceOfAggregate(getDefaultOutputDevice())) {
        setOutputDevice(*user);
    }
    removeOwnAggregateDevices();
    Logging::write(QStringLiteral("Removed %1 leftover aggregate device(s)").arg(count),
                   EventLoging::info);
    return count;
}

std::shared_ptr<void> AudioManager::keepInputRunning(const QString& uniqueID) {
    return hardware().keepCaptureDeviceRunning(uniqueID);
}

AudioDeviceID AudioManager::userOutputOfDefault() {
    const AudioDeviceID output = getDefaultOutputDevice();
    // A leftover of ours still in use stands for the user's device in it.
    return userDeviceOfAggregate(output).value_or(output);
}

std::optional<AudioDeviceID> AudioManager::aggregateReadyFor(AudioDeviceID userOutput) {
    const auto driver = driverOutputDevice();
    if (!driver) {
        return std::nullopt;
    }
    for (AudioDeviceID device : getAllDevices()) {
        if (userDeviceOfAggregate(device) != std::optional(userOutput)) {
            continue;
        }
        const auto subDevices = getAggregateDeviceSubDeviceList(device);
        if (std::find(subDevices.begin(), subDevices.end(), *driver) != subDevices.end()) {
            return device;
        }
    }
    return std::nullopt;
}

std::optional<AudioStatus> AudioManager::createAggregateDeviceWithDefaultDevice() {
    const AudioDeviceID userOutput = userOutputOfDefault();
    const auto ready = aggregateReadyFor(userOutput);
    removeOwnAggregateDevices({ready.value_or(noAudioDevice)});
    setCurrentDefaultDeviceID(userOutput);
    currentDefaultDeviceUID = getDeviceUUID(userOutput).value_or(QString());
    // Read before anything makes the aggregate the default, which overwrites it.
    currentConfiguredDefault = hardware().configuredDefaultOutput();
    if (!ready) {
        return buildAggregateWith(userOutput);
    }
    setCurrentAggreagteDeviceID(*ready);
    currentAggregateDeviceUID = getDeviceUUID(*ready).value_or(QString());
    return noErr;
}

bool AudioManager::prepareAggregateDevice() {
    const AudioDeviceID userOutput = userOutputOfDefault();
    const auto ready = aggregateReadyFor(userOutput);
    // The default output stays whatever it is: the user may have chosen one of ours.
    removeOwnAggregateDevices({ready.value_or(noAudioDevice), getDefaultOutputDevice()});
    if (ready || userOutput == noAudioDevice) {
        return false;
    }
    const auto made = makeAggregateWith(userOutput);
    if (made && made->first.status != noErr) {
        consoleLine(QStringLiteral("cannot make the combined output ahead: status %1")
                        .arg(made->first.status));
    }
    return made && made->first.status == noErr;
}

std::optional<std::pair<AggregateCreation, QString>>
AudioManager::makeAggregateWith(AudioDeviceID userOutput) {
    const auto driver = driverOutputDevice();
    if (!driver) {
        return std::nullopt;
    }
    const QString driverUID = getDeviceUUID(*driver).value_or(QString());
    const QString outputUID = getDeviceUUID(userOutput).value_or(QString());
    const QVariantMap description = aggregateDescription(driverUID, outputUID);
    return std::pair(hardware().createAggregateDevice(description),
                     description.value(aggregateKey::uid).toString());
}

std::optional<AudioStatus> AudioManager::buildAggregateWith(AudioDeviceID userOutput) {
    const auto made = makeAggregateWith(userOutput);
    if (!made) {
        return std::nullopt;
    }
    if (made->first.status == noErr) {
        setCurrentAggreagteDeviceID(made->first.device);
        currentAggregateDeviceUID = made->second;
    }
    return made->first.status;
}

void AudioManager::removeAggregateDeviceWithDefaultDevice() {
    if (isAggregateDevice(currentAggreagteDeviceID())) {
        hardware().destroyAggregateDevice(currentAggreagteDeviceID());
    }
}

void AudioManager::restoreConfiguredDefaultOutput() {
    const auto saved = std::exchange(currentConfiguredDefault, std::nullopt);
    // Writing only a difference: PipeWire's session manager re-reads every write.
    if (saved && hardware().configuredDefaultOutput() != saved) {
        hardware().setConfiguredDefaultOutput(*saved);
    }
}

bool AudioManager::isPlayingIntoAggregate() {
    return hardware().hasActivePlayback(currentAggreagteDeviceID()).value_or(false);
}

bool AudioManager::followDefaultOutput() {
    const AudioDeviceID current = getDefaultOutputDevice();
    const auto aggregate = outputDeviceWithUID(currentAggregateDeviceUID);
    if (current == noAudioDevice || (aggregate && current == *aggregate)) {
        return false;
    }
    // The new default is the user's choice unless it is one of our own devices.
    const bool ours = isOwnAggregateDevice(current) ||
                      getDeviceName(current).contains(driverNameMark, Qt::CaseSensitive);
    const auto user = ours ? outputDeviceWithUID(currentDefaultDeviceUID) : std::optional(current);
    if (!user) {
        return false;
    }
    // A device the user chose now is their configured default from here on.
    const auto configured = ours ? std::nullopt : hardware().configuredDefaultOutput();
    const AudioDeviceID previous = aggregate.value_or(noAudioDevice);
    if (buildAggregateWith(*user) != std::optional(noErr)) {
        return false;
    }
    if (configured && configured->deviceUID == getDeviceUUID(*user)) {
        currentConfiguredDefault = configured;
    }
    setCurrentDefaultDeviceID(*user);
    currentDefaultDeviceUID = getDeviceUUID(*user).value_or(QString());
    setOutputDevice(currentAggreagteDeviceID());
    if (previous != noAudioDevice) {
        hardware().destroyAggregateDevice(previous);
    }
    Logging::write("Output followed to " + getDeviceName(*user), EventLoging::info);
    return true;
}

std::shared_ptr<void> AudioManager::observeDeviceChanges(std::function<void()> handler) {
    return hardware().observeChanges(std::move(handler));
}

} // namespace orvo
