#include "recording/VideoManager.h"

#include <QProcess>
#include <gtest/gtest.h>

#include "integration/recording/XTestClient.h"
#include "platform/Platform.h"
#include "platform/linux/desktop/LinuxDisplays.h"
#include "platform/linux/desktop/LinuxWorkspace.h"
#include "recording/PrivacyManager.h"

namespace orvo {
namespace {

bool xrandr(const QStringList& arguments) {
    QProcess process;
    process.start("xrandr", arguments);
    return process.waitForFinished() && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// Splits the one Xvfb output into two monitors for the life of the object. The left one keeps
// the output "screen"; the right one has no output and is known by its own name.
class SplitMonitors {
public:
    SplitMonitors() {
        ok = xrandr({"--setmonitor", "orvo-left", "960/254x1080/286+0+0", "screen"}) &&
             xrandr({"--setmonitor", "orvo-right", "960/254x1080/286+960+0", "none"});
    }
    ~SplitMonitors() {
        xrandr({"--delmonitor", "orvo-right"});
        xrandr({"--delmonitor", "orvo-left"});
    }
    SplitMonitors(const SplitMonitors&) = delete;
    SplitMonitors& operator=(const SplitMonitors&) = delete;
    bool ok = false;
};

class ScreensTest : public testing::Test {
protected:
    void SetUp() override {
        Platform::shared().install<Displays>(std::make_unique<LinuxDisplays>());
    }
    void TearDown() override { Platform::shared().clear(); }
};

TEST_F(ScreensTest, OneMonitorIsNamedAfterItsOutputAndTwoGiveTwoEntriesPairedWithTheirScreens) {
    // The X server forgets hand-made monitors when its last client leaves; this one stays.
    test::XTestClient x;
    ASSERT_TRUE(x.connected()) << "needs the private X server";
    EXPECT_EQ(VideoManager::screenNameDevices(), QStringList{"screen"});
    const auto whole = Platform::shared().get<Displays>().screens();
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(whole[0].geometry, QRect(0, 0, 1920, 1080));
    EXPECT_EQ(VideoManager::screenDeviceID(0), whole[0].displayID);
    EXPECT_EQ(VideoManager::screenDeviceID(1), std::nullopt);
    EXPECT_EQ(Platform::shared().get<Displays>().mainDisplayID(), whole[0].displayID);

    SplitMonitors split;
    ASSERT_TRUE(split.ok);

    const QStringList names = VideoManager::screenNameDevices();
    EXPECT_EQ(names, (QStringList{"screen", "orvo-right"}));
    ASSERT_EQ(names.size(), 2);

    const auto screens = Platform::shared().get<Displays>().screens();
    const auto screenOf = [&](DisplayID id) -> std::optional<Screen> {
        for (const Screen& screen : screens) {
            if (screen.displayID == id) {
                return screen;
            }
        }
        return std::nullopt;
    };
    const auto left = VideoManager::screenDeviceID(0);
    const auto right = VideoManager::screenDeviceID(1);
    ASSERT_TRUE(left && right);
    EXPECT_NE(*left, *right);
    ASSERT_TRUE(screenOf(*left) && screenOf(*right));
    EXPECT_EQ(screenOf(*left)->geometry, QRect(0, 0, 960, 1080));
    EXPECT_EQ(screenOf(*left)->productName, names[0]);
    EXPECT_EQ(screenOf(*right)->geometry, QRect(960, 0, 960, 1080));
    EXPECT_EQ(screenOf(*right)->productName, names[1]);
    EXPECT_EQ(VideoManager::screenDeviceID(2), std::nullopt);

    // Identifiers stay the same from call to call; the main display is one of the screens.
    EXPECT_EQ(VideoManager::screenDeviceID(0), left);
    const auto main = Platform::shared().get<Displays>().mainDisplayID();
    ASSERT_TRUE(main.has_value());
    EXPECT_TRUE(screenOf(*main).has_value());
}

TEST_F(ScreensTest, ScreenCaptureNeedsTheDisplayNotTitlesOnEveryWindow) {
    test::XTestClient x;
    ASSERT_TRUE(x.connected()) << "needs the private X server";
    const xcb_window_t editor = x.createWindow("notes.txt - Editor");
    const xcb_window_t browser = x.createWindow("Start Page");
    x.setClientList({editor, browser});
    EXPECT_TRUE(PrivacyManager::shared().checkScreenCapture());
    EXPECT_TRUE(Platform::shared().get<Displays>().captureWindowImage(editor));

    const xcb_window_t untitled = x.createWindow(std::nullopt);
    x.setClientList({editor, browser, untitled});
    EXPECT_TRUE(PrivacyManager::shared().checkScreenCapture()) << "a dock has no title";
    const auto windows = Platform::shared().get<Displays>().onScreenWindows();
    ASSERT_TRUE(windows.has_value());
    ASSERT_EQ(windows->size(), 3u);
    EXPECT_EQ((*windows)[0].name, "notes.txt - Editor");
    EXPECT_EQ((*windows)[2].name, std::nullopt);
}

TEST_F(ScreensTest, NothingWithoutADisplay) {
    const QByteArray display = qgetenv("DISPLAY");
    qunsetenv("DISPLAY");
    EXPECT_FALSE(PrivacyManager::shared().checkScreenCapture());
    EXPECT_TRUE(VideoManager::screenNameDevices().isEmpty());
    EXPECT_EQ(VideoManager::screenDeviceID(0), std::nullopt);
    EXPECT_EQ(Platform::shared().get<Displays>().mainDisplayID(), std::nullopt);
    EXPECT_FALSE(Platform::shared().get<Displays>().captureWindowImage(1));
    EXPECT_TRUE(LinuxWorkspace().runningApplications().empty());
    qputenv("DISPLAY", display);
}

} // namespace
} // namespace orvo
