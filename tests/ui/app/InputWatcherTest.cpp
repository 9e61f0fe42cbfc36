#include <memory>

#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "app/AppDelegate.h"
#include "fakes/FakeAudioHardware.h"
#include "platform/Platform.h"
#include "shell/Logging.h"
#include "support/Dialogs.h"
#include "support/TestFiles.h"
#include "tray/OrvoMenuTray.h"

namespace orvo {
namespace {

const QString changeLine = "Event: info Value: Add/Remove new input device";

int linesEndingWith(const QString& entry) {
    int count = 0;
    for (const QString& line :
         test::readLines(Logging::dayFilePath(QDateTime::currentDateTime()))) {
        count += line.endsWith(entry) ? 1 : 0;
    }
    return count;
}

int changeLines() {
    return linesEndingWith(changeLine);
}

bool menuHas(const AppDelegate& delegate, const QString& title) {
    return test::actionTitled(*delegate.orvoMenuTray()->menu(), title) != nullptr;
}

TEST(InputWatcher, LogsWhenTheNumberOfInputDevicesChangesAndKeepsWatching) {
    test::removeStorageTree();
    QTemporaryDir driver;
    auto fake = std::make_unique<FakeAudioHardware>();
    FakeAudioHardware* hardware = fake.get();
    hardware->setInstalledDriverPath(driver.path());
    hardware->setCaptureDevices({{"Microphone", "microphone"}});
    Platform::shared().install<AudioHardware>(std::move(fake));

    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    ASSERT_TRUE(delegate.launchApplication());
    EXPECT_EQ(changeLines(), 0) << "the count taken at start-up is no change";
    // The tray joined start-up and opened the records window.
    ASSERT_NE(delegate.orvoMenuTray(), nullptr);
    EXPECT_EQ(linesEndingWith("Event: info Value: Update menu completed"), 1);
    EXPECT_EQ(linesEndingWith("Event: info Value: Open application"), 1);
    EXPECT_TRUE(menuHas(delegate, "Start recording from Microphone"));

    // Replacing a device by another leaves the count, and so the log, alone.
    hardware->setCaptureDevices({{"Headset", "headset"}});
    delegate.detectInputAudio();
    EXPECT_EQ(changeLines(), 0);
    EXPECT_TRUE(menuHas(delegate, "Start recording from Microphone")) << "no rebuild";

    // The watcher runs again by itself.
    hardware->setCaptureDevices({{"Headset", "headset"}, {"USB microphone", "usb"}});
    EXPECT_TRUE(QTest::qWaitFor([] { return changeLines() == 1; }, 5000));
    delegate.detectInputAudio();
    EXPECT_EQ(changeLines(), 1) << "the new count was stored";
    // The tray follows the change.
    EXPECT_TRUE(menuHas(delegate, "Start recording from USB microphone"));
    EXPECT_FALSE(menuHas(delegate, "Start recording from Microphone"));
    EXPECT_EQ(linesEndingWith("Event: info Value: Update menu completed"), 2);

    hardware->setCaptureDevices({});
    delegate.detectInputAudio();
    EXPECT_EQ(changeLines(), 2);
    Platform::shared().clear();
}

} // namespace
} // namespace orvo
