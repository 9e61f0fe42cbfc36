#include "audio/AudioManager.h"

#include <functional>
#include <memory>

#include <QVariantList>
#include <gtest/gtest.h>

#include "fakes/FakeAudioHardware.h"
#include "platform/Platform.h"
#include "support/TestFiles.h"

namespace orvo {
namespace {

using Device = FakeAudioHardware::Device;

constexpr AudioDeviceID speakers = 10;
constexpr AudioDeviceID microphone = 11;
constexpr AudioDeviceID driverOutput = 12;
constexpr AudioDeviceID driverInput = 13;
constexpr AudioDeviceID headset = 14;

Device output(AudioDeviceID id, const QString& name, const QString& uid) {
    Device device;
    device.id = id;
    device.name = name;
    device.uid = uid;
    device.output = true;
    device.mainVolume = 0.5f;
    return device;
}

Device input(AudioDeviceID id, const QString& name, const QString& uid) {
    Device device;
    device.id = id;
    device.name = name;
    device.uid = uid;
    return device;
}

// A combined output of an earlier run, marked as ours; unmarked, a user's own.
Device leftoverAggregate(AudioDeviceID id, bool ours = true) {
    Device device = output(id, "ORVO Multi Device", "0A1B-LEFTOVER");
    device.transport = transport::aggregate;
    if (ours) {
        device.properties = {{"orvo.role", "aggregate"}, {"orvo.user_sink", "speakers"}};
    }
    return device;
}

class AudioManagerTest : public testing::Test {
protected:
    void SetUp() override {
        auto fake = std::make_unique<FakeAudioHardware>();
        hardware = fake.get();
        Platform::shared().install<AudioHardware>(std::move(fake));
    }
    void TearDown() override { Platform::shared().clear(); }

    void addUsualDevices(bool withHeadset = false) {
        hardware->add(output(speakers, "Speakers", "speakers"));
        hardware->add(input(microphone, "Microphone", "microphone"));
        hardware->add(output(driverOutput, "ORVO Record Device", "orvo_record_device"));
        hardware->add(input(driverInput, "ORVO Record Device", "orvo_record_device_input"));
        hardware->setDefaultOutput(speakers);
        if (withHeadset) {
            hardware->add(output(headset, "Headset", "headset"));
        }
    }

    std::optional<AudioStatus> create() {
        return AudioManager::createAggregateDeviceWithDefaultDevice(route);
    }

    FakeAudioHardware* hardware = nullptr;
    AudioRoute route;
};

TEST_F(AudioManagerTest, EveryCreationDestroysOnlyOurAggregatesAndUsesAFreshUid) {
    hardware->add(leftoverAggregate(5));
    hardware->add(leftoverAggregate(6, false));
    addUsualDevices();
    // The leftover still plays: the user's device in it is the one to give the sound back to.
    hardware->setDefaultOutput(5);

    ASSERT_EQ(create(), noErr);
    EXPECT_EQ(hardware->destroyed(), std::vector<AudioDeviceID>{5});
    EXPECT_TRUE(hardware->device(6).has_value()) << "the user's own combined output stays";
    EXPECT_EQ(route.userOutputDevice(), speakers);
    // The combined outputs carry the driver's name too; only the driver itself is combined.
    const QVariantList subDevices = hardware->descriptions().back()["subdevices"].toList();
    EXPECT_EQ(subDevices[0].toMap()["uid"], "orvo_record_device");

    const AudioDeviceID first = route.aggregateDevice();
    ASSERT_EQ(create(), noErr);
    EXPECT_EQ(hardware->destroyed(), (std::vector<AudioDeviceID>{5, first}));
    EXPECT_NE(route.aggregateDevice(), first);
    const auto descriptions = hardware->descriptions();
    ASSERT_EQ(descriptions.size(), 2u);
    EXPECT_NE(descriptions[0]["uid"], descriptions[1]["uid"]);
    // A sound server may read a name that starts with digits as an object's number.
    for (int i = 0; i < 40; ++i) {
        create();
    }
    for (const QVariantMap& description : hardware->descriptions()) {
        const QString uid = description["uid"].toString();
        EXPECT_TRUE(uid.size() == 36 && uid.front().isLetter()) << uid.toStdString();
    }
}

std::vector<AudioDeviceID> ownAggregates() {
    std::vector<AudioDeviceID> ours;
    for (AudioDeviceID device : AudioManager::getAllDevices()) {
        if (AudioManager::isOwnAggregateDevice(device)) {
            ours.push_back(device);
        }
    }
    return ours;
}

TEST_F(AudioManagerTest, OneMadeAheadServesTheNextStartWhileItFitsTheUsersOutput) {
    addUsualDevices(true);
    EXPECT_TRUE(AudioManager::prepareAggregateDevice());
    EXPECT_FALSE(AudioManager::prepareAggregateDevice()) << "one is enough";
    EXPECT_EQ(AudioManager::getDefaultOutputDevice(), speakers);
    ASSERT_EQ(ownAggregates().size(), 1u);
    const AudioDeviceID ahead = ownAggregates().front();

    ASSERT_EQ(create(), noErr);
    EXPECT_EQ(route.aggregateDevice(), ahead);
    EXPECT_EQ(route.userOutputDevice(), speakers);
    EXPECT_EQ(hardware->descriptions().size(), 1u);

    // The user chose another output while idle: the one made ahead plays to the old one.
    hardware->setDefaultOutput(headset);
    EXPECT_TRUE(AudioManager::prepareAggregateDevice());
    EXPECT_EQ(hardware->destroyed(), std::vector<AudioDeviceID>{ahead});
    ASSERT_EQ(ownAggregates().size(), 1u);
    const AudioDeviceID next = ownAggregates().front();
    EXPECT_EQ(AudioManager::getAggregateDeviceSubDeviceList(next),
              (std::vector<AudioDeviceID>{driverOutput, headset}));

    // One of ours that the user made the default stays theirs.
    hardware->setDefaultOutput(next);
    EXPECT_FALSE(AudioManager::prepareAggregateDevice());
    AudioManager::removeIdleAggregateDevices();
    EXPECT_EQ(ownAggregates(), std::vector<AudioDeviceID>{next});
    hardware->setDefaultOutput(headset);
    AudioManager::removeIdleAggregateDevices();
    EXPECT_TRUE(ownAggregates().empty());
}

TEST_F(AudioManagerTest, ANewDefaultOutputDuringARecordingIsFollowed) {
    addUsualDevices(true);
    ASSERT_EQ(create(), noErr);
    const AudioDeviceID first = route.aggregateDevice();
    ASSERT_EQ(AudioManager::switchToAggregate(route), noErr);
    EXPECT_FALSE(AudioManager::followDefaultOutput(route)) << "nothing changed";

    hardware->setDefaultOutput(headset);
    EXPECT_TRUE(AudioManager::followDefaultOutput(route));
    EXPECT_EQ(route.userOutputDevice(), headset);
    EXPECT_EQ(AudioManager::getDefaultOutputDevice(), route.aggregateDevice());
    EXPECT_EQ(AudioManager::getAggregateDeviceSubDeviceList(route.aggregateDevice()),
              (std::vector<AudioDeviceID>{driverOutput, headset}));
    EXPECT_EQ(hardware->destroyed(), std::vector<AudioDeviceID>{first});

    // The driver made the default (by hand, or by a restarted server) is no user's choice:
    // the combined output is put back, and said so once.
    const AudioDeviceID second = route.aggregateDevice();
    const QString console = test::capturedConsole([&] {
        for (int time = 0; time < 2; ++time) {
            hardware->setDefaultOutput(driverOutput);
            EXPECT_TRUE(AudioManager::followDefaultOutput(route));
            EXPECT_EQ(AudioManager::getDefaultOutputDevice(), second);
        }
    });
    EXPECT_EQ(route.userOutputDevice(), headset);
    EXPECT_EQ(hardware->descriptions().size(), 2u) << "nothing new was built";
    EXPECT_EQ(console.count("Output put back to ORVO Multi Device"), 1);

    // Where the server keeps the user's choice apart, a default that moved while that choice
    // still names ours was the session manager's doing.
    const QString ours = route.aggregateUID;
    hardware->setConfiguredDefault(ConfiguredDefaultOutput{"{\"name\":\"" + ours + "\"}", ours});
    hardware->setDefaultOutput(speakers);
    EXPECT_TRUE(AudioManager::followDefaultOutput(route));
    EXPECT_EQ(AudioManager::getDefaultOutputDevice(), second);
    EXPECT_EQ(route.userOutputDevice(), headset);
}

TEST_F(AudioManagerTest, ASwitchTheServerDoesNotMakeIsTriedOnceMoreThenGivenUp) {
    addUsualDevices();
    ASSERT_EQ(create(), noErr);
    hardware->ignoreDefaultSwitches(1);
    EXPECT_EQ(AudioManager::switchToAggregate(route), noErr) << "the second try took";
    EXPECT_EQ(AudioManager::getDefaultOutputDevice(), route.aggregateDevice());
    AudioManager::restoreRoute(route);

    ASSERT_EQ(create(), noErr);
    hardware->ignoreDefaultSwitches(2);
    EXPECT_EQ(AudioManager::switchToAggregate(route), audioStatusTimeout);
    EXPECT_EQ(AudioManager::getDefaultOutputDevice(), speakers) << "the user's output stays";
}

TEST_F(AudioManagerTest, StreamsTheServerKeepsOnADeviceAreRecordedThereAndGoBackAfterwards) {
    addUsualDevices(true);
    ASSERT_EQ(create(), noErr);
    ASSERT_EQ(AudioManager::switchToAggregate(route), noErr);
    const AudioDeviceID aggregate = route.aggregateDevice();
    // One followed the default, one stays on the user's output, one on the headset (paused:
    // a call on hold), one is not placed yet, and one feeds a virtual microphone: the near side.
    constexpr AudioDeviceID micFeed = 15;
    hardware->add(output(micFeed, "Microphone feed", "microphone_feed"));
    hardware->setFeedsInput({micFeed});
    hardware->setPlaybackStreams({{1, aggregate, false},
                                  {2, speakers, false},
                                  {3, headset, true},
                                  {4, noAudioDevice, false},
                                  {5, micFeed, false}});
    EXPECT_EQ(AudioManager::routeStreams(route), 0);

    const auto streams = hardware->playbackStreams();
    EXPECT_EQ(streams[0].device, aggregate);
    EXPECT_EQ(streams[1].device, aggregate) << "through the user's combined output";
    const AudioDeviceID branch = streams[2].device;
    EXPECT_TRUE(AudioManager::isOwnAggregateDevice(branch));
    EXPECT_EQ(AudioManager::getAggregateDeviceSubDeviceList(branch),
              (std::vector<AudioDeviceID>{driverOutput, headset}))
        << "recorded, and still heard on the headset";
    EXPECT_EQ(streams[3].device, noAudioDevice);
    EXPECT_EQ(streams[4].device, micFeed);
    EXPECT_EQ(AudioManager::routeStreams(route), 0);
    EXPECT_EQ(hardware->descriptions().size(), 2u) << "one branch per device";

    // A stream the server will not move is counted while it plays, not while it is paused.
    auto withUnmovable = hardware->playbackStreams();
    withUnmovable.push_back({6, headset, false});
    withUnmovable.push_back({7, speakers, true});
    hardware->setPlaybackStreams(withUnmovable);
    hardware->setUnmovable({6, 7});
    EXPECT_EQ(AudioManager::routeStreams(route), 1);
    hardware->setUnmovable({});
    EXPECT_EQ(AudioManager::routeStreams(route), 0);

    AudioManager::restoreRoute(route);
    const auto after = hardware->playbackStreams();
    EXPECT_EQ(after[1].device, speakers);
    EXPECT_EQ(after[2].device, headset);
    EXPECT_EQ(after[5].device, headset);
    EXPECT_EQ(after[6].device, speakers);
    EXPECT_EQ(hardware->destroyed(), (std::vector<AudioDeviceID>{aggregate, branch}));
    EXPECT_EQ(AudioManager::getDefaultOutputDevice(), speakers);
}

// What the recording control does around a recording, the user's choice during it aside.
void recordOnce(
    AudioRoute& route, const std::function<void()>& during = [] {}) {
    ASSERT_EQ(AudioManager::createAggregateDeviceWithDefaultDevice(route), noErr);
    ASSERT_EQ(AudioManager::switchToAggregate(route), noErr);
    during();
    AudioManager::restoreRoute(route);
    EXPECT_TRUE(route.empty());
}

TEST_F(AudioManagerTest, TheConfiguredDefaultOutputComesBackExactlyAsItWas) {
    addUsualDevices(true);
    const ConfiguredDefaultOutput none;
    const ConfiguredDefaultOutput speakersChosen{R"({ "name": "speakers" })", "speakers"};

    hardware->setConfiguredDefault(none);
    recordOnce(route);
    EXPECT_EQ(hardware->configuredDefaultOutput(), none);

    hardware->setConfiguredDefault(speakersChosen);
    recordOnce(route);
    EXPECT_EQ(hardware->configuredDefaultOutput(), speakersChosen) << "the very same text";

    // A device the user chooses during the recording stays their choice afterwards.
    const ConfiguredDefaultOutput headsetChosen{R"({ "name": "headset" })", "headset"};
    recordOnce(route, [&] {
        hardware->setDefaultOutput(headset);
        hardware->setConfiguredDefault(headsetChosen);
        ASSERT_TRUE(AudioManager::followDefaultOutput(route));
    });
    EXPECT_EQ(hardware->configuredDefaultOutput(), headsetChosen);
    EXPECT_EQ(AudioManager::getDefaultOutputDevice(), headset);

    // Put back once: a later restore without a recording changes nothing.
    hardware->setConfiguredDefault(speakersChosen);
    AudioManager::restoreRoute(route);
    EXPECT_EQ(hardware->configuredDefaultOutput(), speakersChosen);
}

TEST_F(AudioManagerTest, WithoutAnOutputNamedOrvoNothingIsCreatedButOurLeftoverStillGoes) {
    hardware->add(leftoverAggregate(5));
    hardware->add(output(speakers, "Speakers", "speakers"));
    hardware->add(output(driverOutput, "orvo record device", "lower_case"));
    hardware->add(input(driverInput, "ORVO Record Device", "orvo_record_device_input"));
    hardware->setDefaultOutput(speakers);

    EXPECT_EQ(create(), std::nullopt);
    EXPECT_TRUE(hardware->descriptions().empty());
    EXPECT_EQ(hardware->destroyed(), std::vector<AudioDeviceID>{5});
    EXPECT_TRUE(route.empty());
    EXPECT_EQ(route.userOutputDevice(), speakers);
}

TEST_F(AudioManagerTest, AFailedCreationLeavesNoRouteAndRemovalDestroysOnlyAnAggregate) {
    addUsualDevices();
    hardware->setCreationStatus(audioStatusUnspecified);
    EXPECT_EQ(create(), audioStatusUnspecified);
    EXPECT_TRUE(route.empty());
    EXPECT_EQ(AudioManager::switchToAggregate(route), audioStatusBadDevice);
    EXPECT_EQ(AudioManager::getDefaultOutputDevice(), speakers);
    hardware->setCreationStatus(noErr);

    AudioManager::removeAggregateDeviceWithDefaultDevice(route);
    route.aggregateUID = "speakers";
    AudioManager::removeAggregateDeviceWithDefaultDevice(route);
    EXPECT_TRUE(hardware->destroyed().empty());
    ASSERT_EQ(create(), noErr);
    const AudioDeviceID aggregate = route.aggregateDevice();
    EXPECT_EQ(AudioManager::getDefaultOutputDevice(), speakers) << "the caller's step";
    AudioManager::removeAggregateDeviceWithDefaultDevice(route);
    AudioManager::removeAggregateDeviceWithDefaultDevice(route);
    EXPECT_EQ(hardware->destroyed(), std::vector<AudioDeviceID>{aggregate});
    EXPECT_EQ(route.userOutputDevice(), speakers);
}

TEST_F(AudioManagerTest, TheDriverAsDefaultOutputIsStillSentTwice) {
    addUsualDevices();
    hardware->setDefaultOutput(driverOutput);
    ASSERT_EQ(create(), noErr);
    const QVariantList subDevices = hardware->descriptions().back()["subdevices"].toList();
    EXPECT_EQ(subDevices[0], subDevices[1]);
}

TEST_F(AudioManagerTest, UnreadableUidsAndNoDefaultOutputTravelAsEmptyTexts) {
    Device driver = output(driverOutput, "ORVO Record Device", QString());
    driver.uid.reset();
    hardware->add(driver);

    ASSERT_EQ(create(), noErr);
    EXPECT_EQ(route.userOutputDevice(), noAudioDevice);
    const QVariantMap description = hardware->descriptions().back();
    const QVariantList subDevices = description["subdevices"].toList();
    EXPECT_EQ(subDevices[0].toMap()["uid"], QString());
    EXPECT_EQ(subDevices[1].toMap()["uid"], QString());
    EXPECT_EQ(description["master"], QString());
}

TEST_F(AudioManagerTest, DevicesSplitIntoOutputsAndInputsWithEmptyNamesWhenUnreadable) {
    addUsualDevices();
    Device nameless = input(40, QString(), "nameless");
    nameless.name.reset();
    hardware->add(nameless);

    const auto outputs = AudioManager::getOutputDevices();
    ASSERT_TRUE(outputs.has_value());
    EXPECT_EQ(*outputs, (std::map<AudioDeviceID, QString>{{speakers, "Speakers"},
                                                          {driverOutput, "ORVO Record Device"}}));
    const auto inputs = AudioManager::inputAudioDevicesID();
    ASSERT_TRUE(inputs.has_value());
    EXPECT_EQ(*inputs, (std::map<AudioDeviceID, QString>{{microphone, "Microphone"},
                                                         {driverInput, "ORVO Record Device"},
                                                         {40, QString()}}));
    EXPECT_EQ(AudioManager::getDeviceUUID(999), std::optional<QString>(QString()));
    EXPECT_FALSE(AudioManager::isAggregateDevice(999));
}

TEST_F(AudioManagerTest, ChannelVolumesGoToThePreferredStereoChannels) {
    Device device = output(speakers, "Speakers", "speakers");
    device.stereoChannels = std::array<std::uint32_t, 2>{3, 4};
    hardware->add(device);
    hardware->add(output(driverOutput, "No channels", "none"));

    AudioManager::setDeviceVolume(speakers, 0.2f, 0.9f);
    EXPECT_EQ(hardware->device(speakers)->channelVolumes,
              (std::map<std::uint32_t, float>{{3, 0.2f}, {4, 0.9f}}));
    EXPECT_EQ(AudioManager::getDeviceVolume(speakers), (std::array<float, 2>{0.2f, 0.9f}));

    AudioManager::setDeviceVolume(driverOutput, 0.2f, 0.9f);
    EXPECT_TRUE(hardware->device(driverOutput)->channelVolumes.empty());
    EXPECT_EQ(AudioManager::getDeviceVolume(driverOutput), (std::array<float, 2>{0.0f, 0.0f}));
}

TEST_F(AudioManagerTest, TheDriverIsRecordedAtItsOutputsMonitorAndAtItsInputWithoutOne) {
    EXPECT_FALSE(AudioManager::driverCaptureDevice().has_value()) << "no driver, nothing";
    hardware->setCaptureDevices(
        {{"Microphone", "microphone"}, {"ORVO Record Device", "orvo_record_device_input"}});
    const auto atInput = AudioManager::driverCaptureDevice();
    ASSERT_TRUE(atInput.has_value());
    EXPECT_EQ(atInput->uniqueID, "orvo_record_device_input") << "no output to read it at";

    Device aggregate = leftoverAggregate(5);
    aggregate.monitor = AudioCaptureDevice{"Monitor of ORVO Multi Device", "multi.monitor"};
    hardware->add(aggregate);
    Device driver = output(driverOutput, "ORVO Record Device", "orvo_record_device");
    driver.monitor =
        AudioCaptureDevice{"Monitor of ORVO Record Device", "orvo_record_device.monitor"};
    hardware->add(driver);
    const auto atMonitor = AudioManager::driverCaptureDevice();
    ASSERT_TRUE(atMonitor.has_value());
    EXPECT_EQ(atMonitor->localizedName, "ORVO Record Device");
    EXPECT_EQ(atMonitor->uniqueID, "orvo_record_device.monitor") << "the driver's, not ours";
}

} // namespace
} // namespace orvo
