#include "audio/AudioManager.h"

#include <algorithm>
#include <chrono>
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
// How long a switch of the default output may take to show: PipeWire's session manager makes
// it a moment after the server has answered.
constexpr std::chrono::milliseconds defaultSwitchWait{2000};

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

bool AudioManager::isDriverInput(const AudioCaptureDevice& device) {
    return device.localizedName.contains(driverNameMark, Qt::CaseSensitive);
}

std::optional<AudioCaptureDevice> AudioManager::driverCaptureDevice() {
    const auto inputs = inputAudioDevices();
    const auto input = std::find_if(inputs.begin(), inputs.end(), isDriverInput);
    if (input == inputs.end()) {
        return std::nullopt;
    }
    // Read where its sound is made, at the monitor of the driver's output: PipeWire's input of
    // the driver is a loopback that can stop passing sound on for good while the output plays.
    if (const auto output = driverOutputDevice()) {
        if (const auto monitor = hardware().monitorOf(*output)) {
            return AudioCaptureDevice{input->localizedName, monitor->uniqueID};
        }
    }
    return *input;
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

AudioStatus AudioManager::setOutputDevice(AudioDeviceID newDeviceID) {
    const AudioStatus status = hardware().setDefaultOutputDevice(newDeviceID);
    if (status != noErr) {
        return status;
    }
    return hardware().awaitDefaultOutput(newDeviceID, defaultSwitchWait) ? noErr
                                                                         : audioStatusTimeout;
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

QString AudioManager::newAggregateUID() {
    // PipeWire's server reads a name that starts with digits as an object's number: a
    // default set to "83F4…" went to the device numbered 83.
    for (;;) {
        const QString uid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        if (!uid.front().isDigit()) {
            return uid;
        }
    }
}

QVariantMap AudioManager::aggregateDescription(const QString& driverUID, const QString& outputUID) {
    const QVariantList subDevices{QVariantMap{{aggregateKey::subDeviceUID, driverUID}},
                                  QVariantMap{{aggregateKey::subDeviceUID, outputUID}}};
    return QVariantMap{
        {aggregateKey::name, aggregateName},
        {aggregateKey::uid, newAggregateUID()},
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

std::optional<AudioStatus> AudioManager::createAggregateDeviceWithDefaultDevice(AudioRoute& route) {
    const AudioDeviceID userOutput = userOutputOfDefault();
    const auto ready = aggregateReadyFor(userOutput);
    removeOwnAggregateDevices({ready.value_or(noAudioDevice)});
    route = AudioRoute{};
    route.userOutputUID = getDeviceUUID(userOutput).value_or(QString());
    // Read before anything makes the aggregate the default, which overwrites it.
    route.configuredDefault = hardware().configuredDefaultOutput();
    if (!ready) {
        return buildAggregateWith(userOutput, route.aggregateUID);
    }
    route.aggregateUID = getDeviceUUID(*ready).value_or(QString());
    return noErr;
}

AudioStatus AudioManager::switchDefaultTo(AudioDeviceID device) {
    AudioStatus status = setOutputDevice(device);
    if (status != noErr) {
        consoleLine(
            QStringLiteral("the default output did not switch (status %1): once more").arg(status));
        status = setOutputDevice(device);
    }
    return status;
}

AudioStatus AudioManager::switchToAggregate(AudioRoute& route) {
    const AudioDeviceID aggregate = route.aggregateDevice();
    if (aggregate == noAudioDevice) {
        return audioStatusBadDevice;
    }
    const AudioStatus status = switchDefaultTo(aggregate);
    if (status != noErr) {
        // Nothing stays changed: the user's output is the default as before.
        if (const AudioDeviceID user = route.userOutputDevice(); user != noAudioDevice) {
            setOutputDevice(user);
        }
    }
    return status;
}

bool AudioManager::isOursOrDriver(AudioDeviceID device) {
    return isOwnAggregateDevice(device) ||
           getDeviceName(device).contains(driverNameMark, Qt::CaseSensitive);
}

std::optional<AudioDeviceID> AudioManager::routeFor(AudioRoute& route, AudioDeviceID device) {
    const QString uid = getDeviceUUID(device).value_or(QString());
    if (uid == route.userOutputUID) {
        const AudioDeviceID aggregate = route.aggregateDevice();
        return aggregate != noAudioDevice ? std::optional(aggregate) : std::nullopt;
    }
    for (const auto& branch : route.branches) {
        if (branch.deviceUID == uid) {
            if (const auto made = outputDeviceWithUID(branch.aggregateUID)) {
                return made;
            }
        }
    }
    QString aggregateUID;
    if (buildAggregateWith(device, aggregateUID) != std::optional(noErr)) {
        return std::nullopt;
    }
    route.branches.push_back({uid, aggregateUID});
    consoleLine("Recording also what plays on " + getDeviceName(device));
    return outputDeviceWithUID(aggregateUID);
}

int AudioManager::routeStreams(AudioRoute& route, int followersMs) {
    if (route.empty()) {
        return 0;
    }
    // Every output device whose streams stay where they are: those that reach the driver
    // already, and a virtual microphone's feed, which is the near side's sound.
    std::vector<AudioDeviceID> inside;
    const auto driver = driverOutputDevice();
    const auto playsToDriver = [&driver](AudioDeviceID device) {
        if (!driver || !isAggregateDevice(device)) {
            return false;
        }
        const auto subDevices = getAggregateDeviceSubDeviceList(device);
        return std::find(subDevices.begin(), subDevices.end(), *driver) != subDevices.end();
    };
    for (AudioDeviceID device : getAllDevices()) {
        if (!isOutputDevice(device)) {
            continue;
        }
        if (route.carries(device) || isOursOrDriver(device) || playsToDriver(device) ||
            hardware().feedsInput(device)) {
            inside.push_back(device);
        }
    }
    const auto isOutside = [&inside](const PlaybackStream& stream) {
        return stream.device != noAudioDevice &&
               std::find(inside.begin(), inside.end(), stream.device) == inside.end();
    };
    const auto outside = [&] {
        auto streams = hardware().playbackStreams();
        std::erase_if(streams, [&](const PlaybackStream& stream) { return !isOutside(stream); });
        return streams;
    };
    // Streams that follow the default are on their way; only those the server keeps stay.
    hardware().awaitPlaybackStreams(
        [&](const std::vector<PlaybackStream>& streams) {
            return std::none_of(streams.begin(), streams.end(), isOutside);
        },
        std::chrono::milliseconds(followersMs));
    int unrouted = 0;
    for (const PlaybackStream& stream : outside()) {
        const QString from = getDeviceUUID(stream.device).value_or(QString());
        const auto target = routeFor(route, stream.device);
        if (target && hardware().movePlaybackStream(stream.id, *target) == noErr) {
            route.moved.push_back({stream.id, from});
        } else if (!stream.paused) {
            ++unrouted;
        }
    }
    return unrouted;
}

void AudioManager::removeAggregateDeviceWithDefaultDevice(const AudioRoute& route) {
    std::vector<QString> uids{route.aggregateUID};
    for (const auto& branch : route.branches) {
        uids.push_back(branch.aggregateUID);
    }
    for (const QString& uid : uids) {
        const auto device = outputDeviceWithUID(uid);
        if (device && isAggregateDevice(*device)) {
            hardware().destroyAggregateDevice(*device);
        }
    }
}

void AudioManager::restoreRoute(AudioRoute& route) {
    if (route.empty()) {
        return;
    }
    if (const AudioDeviceID user = route.userOutputDevice(); user != noAudioDevice) {
        setOutputDevice(user);
    }
    // Back where the server kept them, before their combined outputs go.
    const auto streams =
        route.moved.empty() ? std::vector<PlaybackStream>{} : hardware().playbackStreams();
    for (const auto& moved : route.moved) {
        const auto from = outputDeviceWithUID(moved.fromUID);
        const bool alive = std::any_of(streams.begin(), streams.end(), [&](const auto& stream) {
            return stream.id == moved.id && route.carries(stream.device);
        });
        if (from && alive) {
            hardware().movePlaybackStream(moved.id, *from);
        }
    }
    removeAggregateDeviceWithDefaultDevice(route);
    // Writing only a difference: PipeWire's session manager re-reads every write.
    if (route.configuredDefault &&
        hardware().configuredDefaultOutput() != route.configuredDefault) {
        hardware().setConfiguredDefaultOutput(*route.configuredDefault);
    }
    route = AudioRoute{};
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

std::optional<AudioStatus> AudioManager::buildAggregateWith(AudioDeviceID userOutput,
                                                            QString& aggregateUID) {
    const auto made = makeAggregateWith(userOutput);
    if (!made) {
        return std::nullopt;
    }
    if (made->first.status == noErr) {
        aggregateUID = made->second;
    }
    return made->first.status;
}

bool AudioManager::isProgramPlaying() {
    const auto streams = hardware().playbackStreams();
    return std::any_of(streams.begin(), streams.end(),
                       [](const PlaybackStream& stream) { return !stream.paused; });
}

OutputKind AudioManager::userOutputKind(const AudioRoute& route) {
    const AudioDeviceID user = route.userOutputDevice();
    return user != noAudioDevice ? hardware().outputKind(user) : OutputKind::unknown;
}

bool AudioManager::followDefaultOutput(AudioRoute& route) {
    const AudioDeviceID current = getDefaultOutputDevice();
    const AudioDeviceID aggregate = route.aggregateDevice();
    if (route.empty() || current == noAudioDevice || current == aggregate) {
        return false;
    }
    // Where the server keeps the user's choice apart (PipeWire), a default that moved while
    // that choice still names ours was moved by the session manager, not by the user.
    const auto configured = hardware().configuredDefaultOutput();
    const bool ours = isOursOrDriver(current);
    const bool chosen = !configured || configured->deviceUID != route.aggregateUID;
    if (aggregate != noAudioDevice && (ours || !chosen)) {
        if (setOutputDevice(aggregate) == noErr && !std::exchange(route.putBackLogged, true)) {
            Logging::write("Output put back to ORVO Multi Device", EventLoging::info);
        }
        return true;
    }
    const auto user = ours ? outputDeviceWithUID(route.userOutputUID) : std::optional(current);
    if (!user) {
        return false;
    }
    QString aggregateUID;
    if (buildAggregateWith(*user, aggregateUID) != std::optional(noErr)) {
        return false;
    }
    // A device the user chose now is their configured default from here on.
    if (!ours && configured && configured->deviceUID == getDeviceUUID(*user)) {
        route.configuredDefault = configured;
    }
    const QString previous = std::exchange(route.aggregateUID, aggregateUID);
    route.userOutputUID = getDeviceUUID(*user).value_or(QString());
    setOutputDevice(route.aggregateDevice());
    if (const auto old = outputDeviceWithUID(previous)) {
        hardware().destroyAggregateDevice(*old);
    }
    Logging::write("Output followed to " + getDeviceName(*user), EventLoging::info);
    return true;
}

std::shared_ptr<void> AudioManager::observeDeviceChanges(std::function<void()> handler) {
    return hardware().observeChanges(std::move(handler));
}

} // namespace orvo
