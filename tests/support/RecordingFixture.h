#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include <QCoreApplication>
#include <QTest>
#include <gtest/gtest.h>

#include "audio/AudioManager.h"
#include "control/RecordingController.h"
#include "fakes/FakeAudioHardware.h"
#include "fakes/FakeCapture.h"
#include "fakes/FakeDisplays.h"
#include "fakes/FakeMedia.h"
#include "fakes/FakePrivacy.h"
#include "platform/Platform.h"
#include "recording/RecordManager.h"
#include "shell/API.h"
#include "shell/CopyFiles.h"
#include "shell/Logging.h"
#include "shell/SettingsManager.h"
#include "store/Realm.h"
#include "support/TestFiles.h"

namespace orvo::test {

inline constexpr AudioDeviceID speakers = 10;
inline constexpr AudioDeviceID driverOutput = 20;
inline const AudioCaptureDevice usbMic{"USB Mic", "usb"};
inline const AudioCaptureDevice headset{"Headset", "headset"};
inline const AudioCaptureDevice driverInput{"ORVO Record Device", "driver"};
inline constexpr DisplayID leftScreen = 101;
inline constexpr DisplayID rightScreen = 102;

inline FakeAudioHardware::Device outputDevice(AudioDeviceID id, const QString& name,
                                              const QString& uid) {
    FakeAudioHardware::Device device;
    device.id = id;
    device.name = name;
    device.uid = uid;
    device.output = true;
    return device;
}

inline int logCount(const QString& entry) {
    int count = 0;
    for (const QString& line : readLines(Logging::dayFilePath(QDateTime::currentDateTime()))) {
        count += line.endsWith(entry) ? 1 : 0;
    }
    return count;
}

// A recording set-up on fakes: speakers at volume 0.4 as the user's output, the driver's
// output, a USB microphone and the driver's input, two screens; and a controller over them.
class RecordingFixture : public testing::Test {
protected:
    void SetUp() override {
        CopyFiles::checkFilesAndCopy();
        if (!Realm::defaultConfiguration()) {
            Realm::setDefaultConfiguration({API::recordsRealmPath(), 1});
        }
        SettingsManager::shared().writeValueSetting("", "DefaultAudioDeviceForVideo");

        auto hardware = std::make_unique<FakeAudioHardware>();
        hardware_ = hardware.get();
        FakeAudioHardware::Device out = outputDevice(speakers, "Speakers", "speakers");
        out.mainVolume = 0.4f;
        hardware_->add(out);
        hardware_->add(outputDevice(driverOutput, "ORVO Record Device", "orvo"));
        hardware_->setDefaultOutput(speakers);
        hardware_->setCaptureDevices({usbMic, driverInput});

        auto capture = std::make_unique<FakeCapture>();
        capture_ = capture.get();
        capture_->devices = {"usb", "headset", "driver"};
        capture_->displays = {leftScreen, rightScreen};
        auto displays = std::make_unique<FakeDisplays>();
        displays_ = displays.get();
        displays_->setScreens({{leftScreen, QRect(0, 0, 1920, 1080), "Left Screen"},
                               {rightScreen, QRect(1920, 0, 1920, 1080), "Right Screen"}});
        displays_->setWindows(std::vector<OnScreenWindow>{{1, "Editor"}});
        auto media = std::make_unique<FakeMedia>();
        media_ = media.get();

        Platform::shared().install<AudioHardware>(std::move(hardware));
        Platform::shared().install<Capture>(std::move(capture));
        Platform::shared().install<Displays>(std::move(displays));
        Platform::shared().install<Media>(std::move(media));
    }
    void TearDown() override {
        dropFaces();
        controller.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Platform::shared().clear();
    }
    // The faces (and the alerts they show) go before the controller they present.
    virtual void dropFaces() {}

    RecordingController& makeController() {
        controller = std::make_unique<RecordingController>(&privacy);
        return *controller;
    }
    // The segments and the merged file as the media layer reads them back, so that the
    // stop of the running audio recording succeeds: the sides are mixed at the stop, and a
    // call of two sides keeps them beside the mix.
    void describeSegments() {
        const QString merged = API::audioRecordsPath() + controller->recordManager()->fileName();
        std::lock_guard lock(media_->mutex);
        for (const auto& output : capture_->audioOutputs) {
            const QString& path = output->state.path;
            writeFile(path, QByteArray(1000, 's'));
            media_->assets[path] = MediaAsset{path, 5.0, {{MediaType::audio, path, 0, 5.0, {}}}};
        }
        const std::size_t sides = capture_->audioOutputs.size();
        MediaAsset mergedAsset{merged, 5.0, {}};
        for (std::size_t track = 0; track < (sides > 1 ? 1 + sides : 1); ++track) {
            mergedAsset.tracks.push_back({MediaType::audio, merged, int(track), 5.0, {}});
        }
        media_->assets[merged] = mergedAsset;
    }
    // The outputs report only when the test says so.
    void holdOutputs() {
        for (const auto& output : capture_->audioOutputs) {
            std::lock_guard lock(output->state.mutex);
            output->state.finishOnStop = false;
        }
    }
    // A start completes once the devices have answered, a moment after the choice.
    bool waitForStart() {
        return QTest::qWaitFor([this] { return !controller->isStarting(); }, 5000);
    }
    bool waitForStopCompletion() {
        return QTest::qWaitFor([this] { return !controller->isStopping(); }, 5000);
    }
    std::optional<AudioDeviceID> defaultOutput() { return hardware_->defaultOutputDevice(); }

    FakePrivacy privacy;
    FakeAudioHardware* hardware_ = nullptr;
    FakeCapture* capture_ = nullptr;
    FakeDisplays* displays_ = nullptr;
    FakeMedia* media_ = nullptr;
    std::unique_ptr<RecordingController> controller;
};

} // namespace orvo::test
