#include "control/RecordingController.h"

#include <memory>

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include "browser/RecordMenu.h"
#include "fakes/FakeFileAttributes.h"
#include "recording/RecordingSpace.h"
#include "support/Dialogs.h"
#include "support/RecordingFixture.h"
#include "tray/OrvoMenuTray.h"
#include "tray/RecordingAlerts.h"

namespace orvo {
namespace {

using test::actionTitled;

using namespace test;

// What a menu shows of one target: its title and whether it can be chosen.
QStringList shown(const QMenu& menu, const QString& name) {
    for (const QAction* action : menu.actions()) {
        if (action->text().endsWith(name)) {
            return {action->text(), action->isEnabled() ? "enabled" : "disabled"};
        }
    }
    return {};
}

class RecordingControllerTest : public RecordingFixture {
protected:
    void dropFaces() override {
        recordMenu.reset();
        tray.reset();
        alerts.reset();
        closeModalAlerts();
    }
    // A controller whose failures are told as the tray tells them.
    RecordingController& makeAlertingController() {
        makeController();
        alerts = std::make_unique<RecordingAlerts>(*controller);
        return *controller;
    }
    void makeFaces() {
        hardware_->setCaptureDevices({usbMic, headset, driverInput});
        tray = std::make_unique<OrvoMenuTray>(makeController());
        recordMenu = std::make_unique<RecordMenu>(*controller);
    }
    // Chooses the first target; whether it then records.
    bool startsRecording() {
        controller->toggleTarget(0);
        return waitForStart() && controller->isRecord();
    }
    // Both faces show every target alike.
    void expectInStep() {
        for (const char* name : {"USB Mic", "Headset", "Left Screen", "Right Screen"}) {
            EXPECT_EQ(shown(*recordMenu, name), shown(*tray->menu(), name)) << name;
            EXPECT_EQ(shown(*recordMenu, name).size(), 2) << name;
        }
    }

    std::unique_ptr<OrvoMenuTray> tray;
    std::unique_ptr<RecordMenu> recordMenu;
    std::unique_ptr<RecordingAlerts> alerts;
};

TEST_F(RecordingControllerTest, RecordMenuAndTrayStayInStepWhicheverStartsOrStops) {
    makeFaces();
    EXPECT_EQ(recordMenu->title(), "Record");
    EXPECT_EQ(recordMenu->actions().size(), 4);
    expectInStep();

    actionTitled(*recordMenu, "Start recording from Headset")->trigger();
    EXPECT_EQ(shown(*tray->menu(), "USB Mic").at(1), "disabled") << "while the devices answer";
    ASSERT_TRUE(waitForStart());
    ASSERT_TRUE(controller->isRecord());
    EXPECT_EQ(shown(*recordMenu, "Headset"),
              QStringList({"Stop recording from Headset", "enabled"}));
    expectInStep();

    // One line of progress for both: the tray's title and the window's status.
    QSignalSpy progress(controller.get(), &RecordingController::progressChanged);
    controller->recordManager()->changeSeconds(65, 1.2666);
    EXPECT_EQ(progress.size(), 1);
    EXPECT_EQ(controller->statusText(), "ORVO: Time 1:05 Size 1.27 MB");
    EXPECT_EQ(tray->title(), controller->statusText());

    // The tray stops what the window started; both wait for the file alike.
    describeSegments();
    holdOutputs();
    actionTitled(*tray->menu(), "Stop recording from Headset")->trigger();
    EXPECT_FALSE(controller->isRecord());
    EXPECT_EQ(controller->statusText(), "");
    EXPECT_EQ(tray->title(), "");
    EXPECT_EQ(shown(*recordMenu, "Headset"),
              QStringList({"Start recording from Headset", "disabled"}));
    expectInStep();
    for (const auto& output : capture_->audioOutputs) {
        output->finish();
    }
    ASSERT_TRUE(waitForStopCompletion());
    expectInStep();

    // A new device reaches both menus.
    hardware_->setCaptureDevices({usbMic, driverInput});
    tray->updateMenuItems();
    EXPECT_EQ(recordMenu->actions().size(), 3);
    EXPECT_TRUE(shown(*recordMenu, "Headset").isEmpty());
    EXPECT_EQ(shown(*recordMenu, "USB Mic"), shown(*tray->menu(), "USB Mic"));

    // And the window can stop what the tray started.
    actionTitled(*tray->menu(), "Start recording Left Screen")->trigger();
    ASSERT_TRUE(waitForStart());
    ASSERT_TRUE(controller->isRecord());
    EXPECT_TRUE(controller->isVideo());
    EXPECT_EQ(shown(*recordMenu, "Left Screen"),
              QStringList({"Stop recording Left Screen", "enabled"}));
    actionTitled(*recordMenu, "Stop recording Left Screen")->trigger();
    EXPECT_FALSE(controller->isRecord());
    EXPECT_EQ(shown(*tray->menu(), "Left Screen").at(0), "Start recording Left Screen");
    // The screen's segment was never written, so the stop reports an error; the output
    // comes back all the same.
    ASSERT_TRUE(waitForStopCompletion());
    EXPECT_EQ(defaultOutput(), speakers);
}

TEST_F(RecordingControllerTest, StopRecordingCallsBackOnceTheFileIsFinalAndTheOutputRestored) {
    RecordingController& control = makeController();
    ASSERT_TRUE(startsRecording());
    const AudioDeviceID aggregate = defaultOutput().value_or(noAudioDevice);
    ASSERT_TRUE(AudioManager::isOwnAggregateDevice(aggregate));
    const QString fileName = control.recordManager()->fileName();
    const QString file = API::audioRecordsPath() + fileName;
    describeSegments();
    holdOutputs();
    const int stops = logCount("Event: ok Value: Stop record success");
    QStringList saved;
    QObject::connect(&control, &RecordingController::recordSaved,
                     [&](const QString& name) { saved << name; });

    struct Seen {
        std::optional<AudioDeviceID> output;
        bool fileFinal = false;
        int stopLines = 0;
    };
    std::vector<Seen> calls;
    const auto whenFinalised = [&] {
        calls.push_back({defaultOutput(), QFileInfo::exists(file),
                         logCount("Event: ok Value: Stop record success")});
    };
    control.stopAndFinalise(whenFinalised);
    EXPECT_FALSE(control.isRecord());
    // A second caller while the stop is under way waits for the same completion.
    control.stopAndFinalise(whenFinalised);
    QCoreApplication::processEvents();
    EXPECT_TRUE(calls.empty()) << "the engine has not reported yet";
    EXPECT_EQ(defaultOutput(), aggregate);

    for (const auto& output : capture_->audioOutputs) {
        output->finish();
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls.size() == 2; }, 5000));
    for (const Seen& seen : calls) {
        EXPECT_EQ(seen.output, speakers);
        EXPECT_TRUE(seen.fileFinal);
        EXPECT_EQ(seen.stopLines, stops + 1);
    }
    EXPECT_EQ(hardware_->destroyed(), std::vector<AudioDeviceID>{aggregate});
    EXPECT_EQ(control.recordManager(), nullptr);
    QCoreApplication::processEvents();
    EXPECT_EQ(calls.size(), 2u) << "each caller is called once";
    // What takes the echo out of it hears of it once.
    EXPECT_EQ(saved, QStringList{fileName});
}

TEST_F(RecordingControllerTest, TheStartSwitchesToWhatWasMadeAheadAndTheStopMakesTheNext) {
    RecordingController& control = makeController();
    // Made while idle: the combined output, not the default yet, and a reader of the driver.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !hardware_->keptRunning().empty(); }, 5000));
    EXPECT_EQ(hardware_->keptRunning(), std::vector<QString>{driverInput.uniqueID});
    EXPECT_EQ(hardware_->descriptions().size(), 1u);
    EXPECT_EQ(defaultOutput(), speakers);

    ASSERT_TRUE(startsRecording());
    const AudioDeviceID aggregate = defaultOutput().value_or(noAudioDevice);
    EXPECT_TRUE(AudioManager::isOwnAggregateDevice(aggregate));
    EXPECT_EQ(hardware_->descriptions().size(), 1u) << "the start builds none of its own";

    describeSegments();
    control.stopAndFinalise([] {});
    ASSERT_TRUE(waitForStopCompletion());
    EXPECT_EQ(defaultOutput(), speakers);
    EXPECT_EQ(hardware_->destroyed(), std::vector<AudioDeviceID>{aggregate});
    ASSERT_TRUE(QTest::qWaitFor([&] { return hardware_->descriptions().size() == 2; }, 5000))
        << "the next start's is made";

    // On the way out nothing of it stays behind, and nothing more is made.
    bool released = false;
    control.releaseDevices([&] { released = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return released; }, 5000));
    EXPECT_EQ(hardware_->destroyed().size(), 2u);
    EXPECT_TRUE(hardware_->keptRunning().empty());
    EXPECT_EQ(defaultOutput(), speakers);
}

TEST_F(RecordingControllerTest, AProgramPlayingWhereTheRecordingCannotHearItIsToldAtTheStart) {
    constexpr AudioDeviceID elsewhere = 90;
    hardware_->add(outputDevice(elsewhere, "Elsewhere", "elsewhere"));
    // The call's voice plays on a device of its own, and the server will not move it.
    hardware_->setPlaybackStreams({{7, elsewhere, false}});
    hardware_->setUnmovable({7});
    RecordingController& control = makeController();
    ASSERT_TRUE(startsRecording());
    EXPECT_EQ(control.warningText(), control.txtFarSideSilentMsg) << "at once, not 10 s later";

    describeSegments();
    control.stopAndFinalise([] {});
    ASSERT_TRUE(waitForStopCompletion());
    EXPECT_TRUE(control.warningText().isEmpty());

    // One the server moves is recorded: nothing to tell.
    hardware_->setUnmovable({});
    ASSERT_TRUE(startsRecording());
    EXPECT_TRUE(control.warningText().isEmpty());
    EXPECT_TRUE(AudioManager::isOwnAggregateDevice(hardware_->playbackStreams().front().device));
    describeSegments();
    control.stopAndFinalise([] {});
    ASSERT_TRUE(waitForStopCompletion());
    EXPECT_EQ(hardware_->playbackStreams().front().device, elsewhere) << "back where it was";
}

TEST_F(RecordingControllerTest, TooLittleRoomRefusesTheStartAndAFillingDiskEndsTheRecording) {
    auto attributes = std::make_unique<FakeFileAttributes>();
    FakeFileAttributes* space = attributes.get();
    Platform::shared().install<FileAttributes>(std::move(attributes));
    SettingsManager::shared().writeValueSetting("0", "QAudio");
    RecordingController& control = makeAlertingController();
    const std::int64_t tenMinutes = RecordingSpace::neededToStart(false, SessionPreset::low);

    QDir(API::audioRecordsPath()).removeRecursively(); // deleted while the program runs
    space->setAvailableBytes(tenMinutes - 1);
    control.toggleTarget(0);
    EXPECT_FALSE(control.isRecord());
    EXPECT_EQ(defaultOutput(), speakers) << "a refused start switches nothing";
    ASSERT_NE(modalAlert(), nullptr);
    EXPECT_TRUE(modalAlert()->informativeText().contains("not enough free disk space"));
    EXPECT_TRUE(QFileInfo(API::audioRecordsPath()).isDir());
    delete modalAlert();

    space->setAvailableBytes(tenMinutes);
    ASSERT_TRUE(startsRecording());
    describeSegments();
    const QString segment = capture_->audioOutputs.front()->state.path;
    const int stops = logCount("Event: ok Value: Stop record success");
    space->setAvailableBytes(RecordingSpace::reserveBytes);
    // The once-a-second check sees the disk filling and ends the recording for good.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !control.isRecord() && !control.isStopping(); }, 5000));
    EXPECT_EQ(defaultOutput(), speakers);
    EXPECT_EQ(logCount("Event: ok Value: Stop record success"), stops + 1);
    EXPECT_FALSE(QFileInfo::exists(segment)) << "merged and catalogued";
    ASSERT_NE(modalAlert(), nullptr);
    EXPECT_TRUE(modalAlert()->informativeText().contains("disk is almost full"));
    EXPECT_EQ(logCount("Event: error Value: Disk almost full, stopping the recording"), 1);
}

TEST_F(RecordingControllerTest, AlertsBecomeSheetsOnTheAlertWindowWhileItIsShown) {
    // Refused from the start on, also the combined output made ahead of a start.
    hardware_->setCreationStatus(-50);
    RecordingController& control = makeAlertingController();
    QWidget window;
    window.show();
    alerts->setAlertWindow(&window);
    control.toggleTarget(0);
    ASSERT_TRUE(waitForStart());
    auto* sheet = window.findChild<AlertDialog*>();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    delete sheet;

    // Without the window the alert is the application's.
    alerts->setAlertWindow(nullptr);
    control.toggleTarget(0);
    ASSERT_TRUE(waitForStart());
    EXPECT_EQ(window.findChild<AlertDialog*>(), nullptr);
    ASSERT_NE(modalAlert(), nullptr);
    EXPECT_EQ(modalAlert()->windowModality(), Qt::ApplicationModal);
}

} // namespace
} // namespace orvo
