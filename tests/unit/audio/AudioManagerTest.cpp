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
        AudioManager::setCurrentAggreagteDeviceID(0);
        AudioManager::setCurrentDefaultDeviceID(0);
        AudioManager::currentConfiguredDefault.reset();
    }
    void TearDown() override { Platform::shared().clear(); }

    void addUsualDevices() {
        hardware->add(output(speakers, "Speakers", "speakers"));
        hardware->add(input(microphone, "Microphone", "microphone"));
        hardware->add(output(driverOutput, "ORVO Record Device", "orvo_record_device"));
        hardware->add(input(driverInput, "ORVO Record Device", "orvo_record_device_input"));
        hardware->setDefaultOutput(speakers);
    }

    FakeAudioHardware* hardware = nullptr;
};

TEST_F(AudioManagerTest, EveryCreationDestroysOnlyOurAggregatesAndUsesAFreshUid) {
    hardware->add(leftoverAggregate(5));
    hardware->add(leftoverAggregate(6, false));
    addUsualDevices();
    // The leftover still plays: the user's device in it is the one to give the sound back to.
    hardware->setDefaultOutput(5);

    ASSERT_EQ(AudioManager::createAggregateDeviceWithDefaultDevice(),
              std::optional<AudioStatus>(noErr));
    EXPECT_EQ(hardware->destroyed(), std::vector<AudioDeviceID>{5});
    EXPECT_TRUE(hardware->device(6).has_value()) << "the user's own combined output stays";
    EXPECT_EQ(AudioManager::currentDefaultDeviceID(), speakers);
    // The combined outputs carry the driver's name too; only the driver itself is combined.
    const QVariantList subDevices = hardware->descriptions().back()["subdevices"].toList();
    EXPECT_EQ(subDevices[0].toMap()["uid"], "orvo_record_device");

    const AudioDeviceID first = AudioManager::currentAggreagteDeviceID();
    ASSERT_EQ(AudioManager::createAggregateDeviceWithDefaultDevice(),
              std::optional<AudioStatus>(noErr));
    EXPECT_EQ(hardware->destroyed(), (std::vector<AudioDeviceID>{5, first}));
    EXPECT_NE(AudioManager::currentAggreagteDeviceID(), first);
    const auto descriptions = hardware->descriptions();
    ASSERT_EQ(descriptions.size(), 2u);
    EXPECT_NE(descriptions[0]["uid"], descriptions[1]["uid"]);
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
    addUsualDevices();
    hardware->add(output(headset, "Headset", "headset"));
    EXPECT_TRUE(AudioManager::prepareAggregateDevice());
    EXPECT_FALSE(AudioManager::prepareAggregateDevice()) << "one is enough";
    EXPECT_EQ(AudioManager::getDefaultOutputDevice(), speakers);
    ASSERT_EQ(ownAggregates().size(), 1u);
    const AudioDeviceID ahead = ownAggregates().front();

    ASSERT_EQ(AudioManager::createAggregateDeviceWithDefaultDevice(),
              std::optional<AudioStatus>(noErr));
    EXPECT_EQ(AudioManager::currentAggreagteDeviceID(), ahead);
    EXPECT_EQ(AudioManager::currentDefaultDeviceID(), speakers);
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
    addUsualDevices();
    hardware->add(output(headset, "Headset", "headset"));
    ASSERT_EQ(AudioManager::createAggregateDeviceWithDefaultDevice(),
              std::optional<AudioStatus>(noErr));
    const AudioDeviceID first = AudioManager::currentAggreagteDeviceID();
    AudioManager::setOutputDevice(first);
    EXPECT_FALSE(AudioManager::followDefaultOutput()) << "nothing changed";

    hardware->setDefaultOutput(headset);
    EXPECT_TRUE(AudioManager::followDefaultOutput());
    EXPECT_EQ(AudioManager::currentDefaultDeviceID(), headset);
    EXPECT_EQ(AudioManager::getDefaultOutputDevice(), AudioManager::currentAggreagteDeviceID());
    EXPECT_EQ(
        AudioManager::getAggregateDeviceSubDeviceList(AudioManager::currentAggreagteDeviceID()),
        (std::vector<AudioDeviceID>{driverOutput, headset}));
    EXPECT_EQ(hardware->destroyed(), std::vector<AudioDeviceID>{first});

    // The driver made the default (by hand, or by a restarted server) is no user's choice.
    hardware->setDefaultOutput(driverOutput);
    EXPECT_TRUE(AudioManager::followDefaultOutput());
    EXPECT_EQ(AudioManager::currentDefaultDeviceID(), headset);
}

// What the recording control does around a recording, the user's choice during it aside.
void recordOnce(const std::function<void()>& during = [] {}) {
    ASSERT_EQ(AudioManager::createAggregateDeviceWithDefaultDevice(),
              std::optional<AudioStatus>(noErr));
    AudioManager::setOutputDevice(AudioManager::currentAggreagteDeviceID());
    during();
    AudioManager::setOutputDevice(AudioManager::currentDefaultDeviceID());
    AudioManager::removeAggregateDeviceWithDefaultDevice();
    AudioManager::restoreConfiguredDefaultOutput();
}

TEST_F(AudioManagerTest, TheConfiguredDefaultOutputComesBackExactlyAsItWas) {
    addUsualDevices();
    hardware->add(output(headset, "Headset", "headset"));
    const ConfiguredDefaultOutput none;
    const ConfiguredDefaultOutput speakersChosen{R"({ "name": "speakers" })", "speakers"};

    hardware->setConfiguredDefault(none);
    recordOnce();
    EXPECT_EQ(hardware->configuredDefaultOutput(), none);

    hardware->setConfiguredDefault(speakersChosen);
    recordOnce();
    EXPECT_EQ(hardware->configuredDefaultOutput(), speakersChosen) << "the very same text";

    // A device the user chooses during the recording stays their choice afterwards.
    const ConfiguredDefaultOutput headsetChosen{R"({ "name": "headset" })", "headset"};
    recordOnce([&] {
        hardware->setDefaultOutput(headset);
        hardware->setConfiguredDefault(headsetChosen);
        ASSERT_TRUE(AudioManager::followDefaultOutput());
    });
    EXPECT_EQ(hardware->configuredDefaultOutput(), headsetChosen);
    EXPECT_EQ(AudioManager::getDefaultOutputDevice(), headset);

    // Put back once: a later restore without a recording changes nothing.
    hardware->setConfiguredDefault(speakersChosen);
    AudioManager::restoreConfiguredDefaultOutput();
    EXPECT_EQ(hardware->configuredDefaultOutput(), speakersChosen);
}

TEST_F(AudioManagerTest, WithoutAnOutputNamedOrvoNothingIsCreatedButOurLeftoverStillGoes) {
    hardware->add(leftoverAggregate(5));
    hardware->add(output(speakers, "Speakers", "speakers"));
    hardware->add(output(driverOutput, "orvo record device", "lower_case"));
    hardware->add(input(driverInput, "ORVO Record Device", "orvo_record_device_input"));
    hardware->setDefaultOutput(speakers);
    AudioManager::setCurrentAggreagteDeviceID(77);

    EXPECT_EQ(AudioManager::createAggregateDeviceWithDefaultDevice(), std::nullopt);
    EXPECT_TRUE(hardware->descriptions().empty());
    EXPECT_EQ(hardware->destroyed(), std::vector<AudioDeviceID>{5});
    EXPECT_EQ(AudioManager::currentAggreagteDeviceID(), 77u);
    EXPECT_EQ(AudioManager::currentDefaultDeviceID(), speakers);
}

TEST_F(AudioManagerTest, AFailedCreationReturnsItsStatusAndKeepsTheFormerAggregate) {
    addUsualDevices();
    hardware->setCreationStatus(audioStatusUnspecified);
    AudioManager::setCurrentAggreagteDeviceID(77);

    EXPECT_EQ(AudioManager::createAggregateDeviceWithDefaultDevice(),
              std::optional<AudioStatus>(audioStatusUnspecified));
    EXPECT_EQ(AudioManager::currentAggreagteDeviceID(), 77u);
}

TEST_F(AudioManagerTest, TheDriverAsDefaultOutputIsStillSentTwice) {
    addUsualDevices();
    hardware->setDefaultOutput(driverOutput);
    ASSERT_EQ(AudioManager::createAggregateDeviceWithDefaultDevice(),
              std::optional<AudioStatus>(noErr));
    const QVariantList subDevices = hardware->descriptions().back()["subdevices"].toList();
    EXPECT_EQ(subDevices[0], subDevices[1]);
}

TEST_F(AudioManagerTest, UnreadableUidsAndNoDefaultOutputTravelAsEmptyTexts) {
    Device driver = output(driverOutput, "ORVO Record Device", QString());
    driver.uid.reset();
    hardware->add(driver);

    ASSERT_EQ(AudioManager::createAggregateDeviceWithDefaultDevice(),
              std::optional<AudioStatus>(noErr));
    EXPECT_EQ(AudioManager::currentDefaultDeviceID(), 0u);
    const QVariantMap description = hardware->descriptions().back();
    const QVariantList subDevices = description["subdevices"].toList();
    EXPECT_EQ(subDevices[0].toMap()["uid"], QString());
    EXPECT_EQ(subDevices[1].toMap()["uid"], QString());
    EXPECT_EQ(description["master"], QString());
}

TEST_F(AudioManagerTest, RemovalDestroysOnlyAnAggregateAndKeepsTheFields) {
    addUsualDevices();
    AudioManager::removeAggregateDeviceWithDefaultDevice();
    AudioManager::setCurrentAggreagteDeviceID(speakers);
    AudioManager::removeAggregateDeviceWithDefaultDevice();
    EXPECT_TRUE(hardware->destroyed().empty());

    ASSERT_EQ(AudioManager::createAggregateDeviceWithDefaultDevice(),
              std::optional<AudioStatus>(noErr));
    const AudioDeviceID aggregate = AudioManager::currentAggreagteDeviceID();
    EXPECT_EQ(AudioManager::getDefaultOutputDevice(), speakers) << "the caller's step";
    AudioManager::removeAggregateDeviceWithDefaultDevice();
    AudioManager::removeAggregateDeviceWithDefaultDevice();
    EXPECT_EQ(hardware->destroyed(), std::vector<AudioDeviceID>{aggregate});
    EXPECT_EQ(AudioManager::currentAggreagteDeviceID(), aggregate);
    EXPECT_EQ(AudioManager::currentDefaultDeviceID(), speakers);
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

} // namespace
} // namespace orvo
