#include "tray/VolumeView.h"

#include <memory>

#include <QTest>
#include <gtest/gtest.h>

#include "audio/AudioManager.h"
#include "fakes/FakeAudioHardware.h"
#include "platform/Platform.h"

namespace orvo {
namespace {

constexpr AudioDeviceID speakers = 10;
constexpr AudioDeviceID headphones = 11;
constexpr AudioDeviceID noVolume = 12;

FakeAudioHardware::Device output(AudioDeviceID id, std::optional<float> volume) {
    FakeAudioHardware::Device device;
    device.id = id;
    device.output = true;
    device.mainVolume = volume;
    return device;
}

class VolumeViewTest : public testing::Test {
protected:
    void SetUp() override {
        auto fake = std::make_unique<FakeAudioHardware>();
        hardware = fake.get();
        hardware->add(output(speakers, 0.5f));
        hardware->add(output(headphones, 0.5f));
        hardware->add(output(noVolume, std::nullopt));
        Platform::shared().install<AudioHardware>(std::move(fake));
    }
    void TearDown() override { Platform::shared().clear(); }

    std::optional<float> volumeOf(AudioDeviceID id) const {
        return hardware->device(id)->mainVolume;
    }

    FakeAudioHardware* hardware = nullptr;
};

TEST_F(VolumeViewTest, OnlyMovingTheSliderSetsTheVolumeOfTheDeviceToRestore) {
    VolumeView view(QRect(0, 0, 300, 24));
    view.setDevice(speakers);
    view.show();
    // Showing a volume, clamped, sets no device.
    view.setVolume(1.5f);
    EXPECT_FLOAT_EQ(view.volume(), 1.0f);
    view.setVolume(-1.0f);
    EXPECT_FLOAT_EQ(view.volume(), 0.0f);
    view.setVolume(0.75f);
    EXPECT_FLOAT_EQ(view.volume(), 0.75f);
    EXPECT_EQ(volumeOf(speakers), 0.5f);
    view.slider->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_FLOAT_EQ(*volumeOf(speakers), 0.76f);

    QTest::keyClick(view.slider, Qt::Key_End);
    EXPECT_FLOAT_EQ(view.volume(), 1.0f);
    EXPECT_EQ(volumeOf(speakers), 1.0f);
    QTest::keyClick(view.slider, Qt::Key_Home);
    EXPECT_EQ(volumeOf(speakers), 0.0f);
    view.slider->triggerAction(QAbstractSlider::SliderPageStepAdd);
    view.slider->triggerAction(QAbstractSlider::SliderPageStepAdd);
    view.slider->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_FLOAT_EQ(*volumeOf(speakers), 0.3f);

    // The device the slider acts on is the one set last.
    view.setDevice(headphones);
    QTest::keyClick(view.slider, Qt::Key_End);
    EXPECT_EQ(volumeOf(headphones), 1.0f);
    EXPECT_FLOAT_EQ(*volumeOf(speakers), 0.3f);

    // Without a settable volume, or without a device, nothing changes.
    view.setDevice(noVolume);
    QTest::keyClick(view.slider, Qt::Key_Home);
    EXPECT_EQ(volumeOf(noVolume), std::nullopt);
    view.setDevice(0);
    QTest::keyClick(view.slider, Qt::Key_End);
    EXPECT_EQ(volumeOf(headphones), 1.0f);
    EXPECT_FLOAT_EQ(*volumeOf(speakers), 0.3f);
}

} // namespace
} // namespace orvo
