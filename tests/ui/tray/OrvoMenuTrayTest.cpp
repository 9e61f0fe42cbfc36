#include "tray/OrvoMenuTray.h"

#include <memory>

#include <QDir>
#include <QTest>
#include <QWidgetAction>
#include <gtest/gtest.h>

#include "support/Dialogs.h"
#include "support/RecordingFixture.h"

namespace orvo {
namespace {

using namespace test;

QStringList menuTitles(const QMenu& menu) {
    QStringList titles;
    for (const QAction* action : menu.actions()) {
        if (action->isSeparator()) {
            titles << "---";
        } else if (qobject_cast<const QWidgetAction*>(action) != nullptr) {
            titles << "[volume]";
        } else {
            titles << action->text();
        }
    }
    return titles;
}

class OrvoMenuTrayTest : public RecordingFixture {
protected:
    void dropFaces() override {
        tray.reset();
        closeModalAlerts();
    }

    OrvoMenuTray& makeTray() {
        tray = std::make_unique<OrvoMenuTray>(makeController());
        return *tray;
    }
    QAction* target(const QString& name) const {
        for (const auto& entry : tray->menuTrayItems()) {
            if (entry->recordType && entry->nameDevice == name) {
                return entry->menuItem;
            }
        }
        return nullptr;
    }
    // Chooses the target's entry and waits for the start that follows, if any.
    bool chosen(const QString& name) {
        target(name)->trigger();
        return waitForStart();
    }
    // The targets that can be chosen, in menu order.
    QStringList enabledTargets() const {
        QStringList names;
        for (const auto& entry : tray->menuTrayItems()) {
            if (entry->recordType && entry->menuItem->isEnabled()) {
                names << entry->nameDevice.value_or(QString());
            }
        }
        return names;
    }

    const QStringList everyTarget{"USB Mic", "Headset", "Left Screen", "Right Screen"};
    std::unique_ptr<OrvoMenuTray> tray;
};

TEST_F(OrvoMenuTrayTest, MenuListsMicrophonesAndScreensInOrderWithTheVolumeRowSecond) {
    const int updates = logCount("Event: info Value: Update menu completed");
    hardware_->setCaptureDevices({});
    // Offscreen there is no tray host: the program says so once and keeps its menu.
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    const QString console = test::capturedConsole([this] { makeTray(); });
    EXPECT_EQ(console.count("No system tray"), 1) << console.toStdString();
    OrvoMenuTray& menuTray = *tray;
    EXPECT_EQ(logCount("Event: info Value: Update menu completed"), updates + 1);
    // Without any input there are no screens either: a screen recording records sound too.
    EXPECT_EQ(menuTitles(*menuTray.menu()),
              QStringList({"Volume", "[volume]", "Audio devices", "Screens", "---",
                           "Open recordings", "Quit"}));

    hardware_->setCaptureDevices({usbMic, driverInput, headset});
    menuTray.updateMenuItems();
    const QMenu& menu = *menuTray.menu();
    EXPECT_EQ(menuTitles(menu),
              QStringList({"Volume", "[volume]", "Audio devices", "Start recording from USB Mic",
                           "Start recording from Headset", "Screens", "Start recording Left Screen",
                           "Start recording Right Screen", "---", "Open recordings", "Quit"}));
    EXPECT_EQ(logCount("Event: info Value: Update menu completed"), updates + 2);
    EXPECT_EQ(menuTray.statusBarItem()->contextMenu(), &menu);

    // The entries follow the menu one to one; only targets are enabled, the slider is not.
    const auto& items = menuTray.menuTrayItems();
    ASSERT_EQ(items.size(), std::size_t(menu.actions().size()));
    QList<bool> enabled;
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i]->menuItem, menu.actions()[int(i)]);
        enabled << items[i]->menuItem->isEnabled();
    }
    EXPECT_FALSE(enabled[0] || enabled[2] || enabled[5]);
    EXPECT_TRUE(enabled[3] && enabled[4] && enabled[6] && enabled[7] && enabled[9] && enabled[10]);
    auto* row = qobject_cast<QWidgetAction*>(menu.actions()[1]);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->defaultWidget(), menuTray.viewVolume());
    EXPECT_FALSE(menuTray.viewVolume()->slider->isEnabled());

    EXPECT_EQ(items[3]->recordType, RecordType::audio);
    EXPECT_EQ(items[3]->device->uniqueID, "usb");
    EXPECT_EQ(items[7]->recordType, RecordType::video);
    EXPECT_EQ(items[7]->nameDevice, "Right Screen");
    EXPECT_FALSE(items[7]->device.has_value());
    EXPECT_FALSE(items[9]->recordType.has_value());
}

TEST_F(OrvoMenuTrayTest, RecordingTitleShowsDurationAndSizeAndClearsWithAMissingValue) {
    OrvoMenuTray& menuTray = makeTray();
    EXPECT_EQ(menuTray.title(), "");
    EXPECT_EQ(menuTray.iconName(), "TrayIcon");
    EXPECT_FALSE(menuTray.statusBarItem()->icon().isNull());

    menuTray.updateTitleMenuItemBar(65, 1.2666);
    EXPECT_EQ(menuTray.title(), "ORVO: Time 1:05 Size 1.27 MB");
    EXPECT_EQ(menuTray.statusBarItem()->toolTip(), menuTray.title());
    EXPECT_EQ(menuTray.iconName(), "TrayIconRecord");

    menuTray.updateTitleMenuItemBar(std::nullopt, 3.0);
    EXPECT_EQ(menuTray.title(), "");
    EXPECT_EQ(menuTray.iconName(), "TrayIcon");
    menuTray.updateTitleMenuItemBar(3725, 0.004);
    EXPECT_EQ(menuTray.title(), "ORVO: Time 62:05 Size 0.00 MB");
    menuTray.updateTitleMenuItemBar(12, std::nullopt);
    EXPECT_EQ(menuTray.title(), "");
}

TEST_F(OrvoMenuTrayTest, TargetsStayDisabledUntilTheStopHasCompleted) {
    OrvoMenuTray& menuTray = makeTray();
    ASSERT_TRUE(chosen("USB Mic"));
    ASSERT_TRUE(menuTray.isRecord());
    describeSegments();
    holdOutputs();
    target("USB Mic")->trigger();
    ASSERT_TRUE(menuTray.isStopping());
    EXPECT_TRUE(enabledTargets().isEmpty());
    // Neither a click nor a rebuild may start another recording meanwhile.
    menuTray.actionMenuStartRecord(target("Left Screen"));
    menuTray.updateMenuItems();
    EXPECT_TRUE(enabledTargets().isEmpty());
    menuTray.actionMenuStartRecord(target("USB Mic"));
    EXPECT_FALSE(menuTray.isRecord());
    EXPECT_EQ(hardware_->descriptions().size(), 1u) << "no second aggregate was built";
    EXPECT_TRUE(AudioManager::isOwnAggregateDevice(defaultOutput().value_or(noAudioDevice)));

    for (const auto& output : capture_->audioOutputs) {
        output->finish();
    }
    ASSERT_TRUE(waitForStopCompletion());
    EXPECT_EQ(defaultOutput(), speakers);
    EXPECT_EQ(enabledTargets(), (QStringList{"USB Mic", "Left Screen", "Right Screen"}));
}

TEST_F(OrvoMenuTrayTest, AMicrophoneRecordsAndARebuildMeanwhileMakesAnyTargetTheStop) {
    hardware_->setCaptureDevices({usbMic, headset, driverInput});
    OrvoMenuTray& menuTray = makeTray();
    ASSERT_TRUE(chosen("USB Mic"));
    ASSERT_TRUE(menuTray.isRecord());
    EXPECT_FALSE(menuTray.isVideo());
    const AudioDeviceID aggregate = defaultOutput().value_or(noAudioDevice);
    EXPECT_TRUE(AudioManager::isOwnAggregateDevice(aggregate));
    EXPECT_EQ(menuTray.controller().previousOutput(), speakers);
    EXPECT_EQ(target("USB Mic")->text(), "Stop recording from USB Mic");
    EXPECT_EQ(enabledTargets(), QStringList{"USB Mic"});
    EXPECT_TRUE(menuTray.viewVolume()->slider->isEnabled());
    EXPECT_FLOAT_EQ(menuTray.viewVolume()->volume(), 0.4f);

    menuTray.updateMenuItems();
    EXPECT_TRUE(menuTray.isRecord());
    EXPECT_EQ(target("USB Mic")->text(), "Start recording from USB Mic");
    EXPECT_EQ(enabledTargets(), everyTarget);
    EXPECT_FALSE(menuTray.viewVolume()->slider->isEnabled());

    // Any target is now the stop command; the chosen one keeps its start title.
    describeSegments();
    target("Headset")->trigger();
    EXPECT_FALSE(menuTray.isRecord());
    EXPECT_EQ(menuTray.selectedItemForRecord()->nameDevice, "Headset");
    EXPECT_EQ(target("Headset")->text(), "Start recording from Headset");
    EXPECT_FALSE(target("USB Mic")->isEnabled());
    ASSERT_TRUE(waitForStopCompletion());
    EXPECT_EQ(defaultOutput(), speakers);
    EXPECT_EQ(hardware_->destroyed(), std::vector<AudioDeviceID>{aggregate});
    EXPECT_EQ(menuTray.recordManager(), nullptr);
    EXPECT_EQ(capture_->sessions.size(), 1u) << "the click stopped, it started nothing";
    EXPECT_EQ(enabledTargets(), everyTarget);
    EXPECT_EQ(modalAlert(), nullptr);
}

TEST_F(OrvoMenuTrayTest, AFailedMergeRestoresTheOutputAndShowsTheStopError) {
    OrvoMenuTray& menuTray = makeTray();
    const int errors = logCount("Event: error Value: Stop record with error: margeFail");
    ASSERT_TRUE(chosen("USB Mic"));
    ASSERT_TRUE(menuTray.isRecord());
    target("USB Mic")->trigger(); // no readable segment: nothing to merge
    ASSERT_TRUE(waitForStopCompletion());
    EXPECT_EQ(defaultOutput(), speakers);
    EXPECT_EQ(hardware_->destroyed().size(), 1u);
    EXPECT_EQ(logCount("Event: error Value: Stop record with error: margeFail"), errors + 1);
    EXPECT_NE(menuTray.recordManager(), nullptr) << "kept until the next start replaces it";
    AlertDialog* alert = modalAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->informativeText(), "The audio recording could not be saved (Error #354).");
    EXPECT_EQ(alert->alertStyle(), AlertDialog::Style::critical);
    QTest::mouseClick(alert->buttons().at(0), Qt::LeftButton);
    EXPECT_TRUE(target("USB Mic")->isEnabled());
}

TEST_F(OrvoMenuTrayTest, PermissionRefusalsShowTheirAlertsAndRecordNothing) {
    OrvoMenuTray& menuTray = makeTray();
    const int noMic = logCount("Event: ok Value: No privacy microphone");
    privacy.microphone = false;
    privacy.answer = true;
    ASSERT_TRUE(chosen("USB Mic"));
    QCoreApplication::processEvents();
    EXPECT_EQ(modalAlert(), nullptr) << "a granted request starts nothing and says nothing";
    EXPECT_FALSE(menuTray.isRecord());

    privacy.answer = false;
    ASSERT_TRUE(chosen("USB Mic"));
    ASSERT_TRUE(QTest::qWaitFor([] { return modalAlert() != nullptr; }, 5000));
    EXPECT_EQ(modalAlert()->informativeText(), controller->txtPrivacyMicMsg);
    EXPECT_EQ(logCount("Event: ok Value: No privacy microphone"), noMic + 1);
    QTest::mouseClick(modalAlert()->buttons().at(0), Qt::LeftButton);
    EXPECT_EQ(modalAlert(), nullptr);

    // The screen permission only matters to screens.
    privacy.microphone = true;
    privacy.screen = false;
    const int noScreen = logCount("Event: ok Value: No privacy screencapture");
    ASSERT_TRUE(chosen("Right Screen"));
    EXPECT_EQ(privacy.screenRequests, 1);
    ASSERT_NE(modalAlert(), nullptr);
    EXPECT_EQ(modalAlert()->messageText(), "No access to screen recording");
    EXPECT_EQ(modalAlert()->alertStyle(), AlertDialog::Style::informational);
    EXPECT_EQ(logCount("Event: ok Value: No privacy screencapture"), noScreen + 1);
    QTest::mouseClick(modalAlert()->buttons().at(0), Qt::LeftButton);
    EXPECT_FALSE(menuTray.isRecord());
    EXPECT_EQ(defaultOutput(), speakers);
    EXPECT_TRUE(capture_->sessions.empty());

    ASSERT_TRUE(chosen("USB Mic"));
    EXPECT_TRUE(menuTray.isRecord());
}

TEST_F(OrvoMenuTrayTest, AStartTheServerRefusesShowsItsCodeAndChangesNothing) {
    // The system refuses the aggregate, also the one made ahead of a start.
    hardware_->setCreationStatus(-50);
    OrvoMenuTray& menuTray = makeTray();
    const QStringList before = QDir(API::audioRecordsPath()).entryList(QDir::Files);
    const int failures = logCount("Event: error Value: No create aggregate");
    const auto expectRefused = [&](const QString& code) {
        ASSERT_TRUE(chosen("USB Mic"));
        EXPECT_FALSE(menuTray.isRecord());
        EXPECT_EQ(defaultOutput(), speakers);
        EXPECT_EQ(QDir(API::audioRecordsPath()).entryList(QDir::Files), before) << "no record";
        AlertDialog* alert = modalAlert();
        ASSERT_NE(alert, nullptr);
        EXPECT_EQ(alert->informativeText(),
                  "Could not start the audio recording.\nDevice: USB Mic\nError code: " + code);
        EXPECT_EQ(alert->alertStyle(), AlertDialog::Style::critical);
        QTest::mouseClick(alert->buttons().at(0), Qt::LeftButton);
        EXPECT_TRUE(target("USB Mic")->isEnabled());
        EXPECT_EQ(target("USB Mic")->text(), "Start recording from USB Mic");
    };
    expectRefused("-50");
    EXPECT_EQ(logCount("Event: error Value: No create aggregate"), failures + 1);

    // A switch of the default output the server never makes.
    hardware_->setCreationStatus(noErr);
    hardware_->ignoreDefaultSwitches(2);
    expectRefused(QString::number(audioStatusTimeout));
    EXPECT_EQ(menuTray.recordManager(), nullptr);

    // The server takes the next one: the start goes through.
    ASSERT_TRUE(chosen("USB Mic"));
    EXPECT_TRUE(menuTray.isRecord());
    EXPECT_TRUE(AudioManager::isOwnAggregateDevice(defaultOutput().value_or(noAudioDevice)));
}

TEST_F(OrvoMenuTrayTest, WithoutTheDriverOutputTheStartErrorHasAnEmptyStatus) {
    auto hardware = std::make_unique<FakeAudioHardware>();
    hardware_ = hardware.get();
    hardware_->add(outputDevice(speakers, "Speakers", "speakers"));
    hardware_->setDefaultOutput(speakers);
    hardware_->setCaptureDevices({usbMic});
    Platform::shared().install<AudioHardware>(std::move(hardware));

    OrvoMenuTray& menuTray = makeTray();
    ASSERT_TRUE(chosen("USB Mic"));
    EXPECT_FALSE(menuTray.isRecord());
    EXPECT_EQ(defaultOutput(), speakers);
    ASSERT_NE(modalAlert(), nullptr);
    EXPECT_EQ(modalAlert()->informativeText(),
              "Could not start the audio recording.\nDevice: USB Mic\nError code: ");

    // A screen entry names no device.
    QTest::mouseClick(modalAlert()->buttons().at(0), Qt::LeftButton);
    ASSERT_TRUE(chosen("Left Screen"));
    ASSERT_NE(modalAlert(), nullptr);
    EXPECT_EQ(modalAlert()->informativeText(),
              "Could not start the screen recording.\nDevice: \nError code: ");
}

TEST_F(OrvoMenuTrayTest, ScreenRecordingTakesTheSetMicrophoneOrElseTheFirstAndItsScreen) {
    hardware_->setCaptureDevices({usbMic, headset, driverInput});
    OrvoMenuTray& menuTray = makeTray();
    const auto inputsOf = [this](std::size_t session) {
        QStringList ids;
        for (const auto& input : capture_->sessions.at(session)->inputs) {
            ids << static_cast<FakeCaptureInput&>(*input).uniqueID();
        }
        return ids;
    };

    SettingsManager::shared().writeValueSetting("Headset", "DefaultAudioDeviceForVideo");
    ASSERT_TRUE(chosen("Right Screen"));
    ASSERT_TRUE(menuTray.isRecord());
    EXPECT_TRUE(menuTray.isVideo());
    EXPECT_EQ(target("Right Screen")->text(), "Stop recording Right Screen");
    EXPECT_FALSE(target("Left Screen")->isEnabled());
    EXPECT_EQ(inputsOf(0), QStringList({"headset", "driver", QString::number(rightScreen)}));
    ASSERT_TRUE(chosen("Right Screen"));
    ASSERT_TRUE(waitForStopCompletion());
    if (AlertDialog* alert = modalAlert()) {
        QTest::mouseClick(alert->buttons().at(0), Qt::LeftButton);
    }

    SettingsManager::shared().writeValueSetting("Unplugged Mic", "DefaultAudioDeviceForVideo");
    ASSERT_TRUE(chosen("Left Screen"));
    ASSERT_TRUE(menuTray.isRecord());
    EXPECT_EQ(inputsOf(1), QStringList({"usb", "driver", QString::number(leftScreen)}));
}

using OrvoMenuTrayDeathTest = OrvoMenuTrayTest;

TEST_F(OrvoMenuTrayDeathTest, CommandsOpenTheRecordsAndQuitAtOnceEvenWhileRecording) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    OrvoMenuTray& menuTray = makeTray();
    const QList<QAction*> actions = menuTray.menu()->actions();
    const int opens = logCount("Event: info Value: Open application");
    actions[actions.size() - 2]->trigger();
    EXPECT_EQ(logCount("Event: info Value: Open application"), opens + 1);

    ASSERT_TRUE(chosen("USB Mic"));
    ASSERT_TRUE(menuTray.isRecord());
    EXPECT_EXIT(actions.last()->trigger(), testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace orvo
