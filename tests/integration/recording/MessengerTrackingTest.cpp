#include "recording/ApplicationsManager.h"

#include <unistd.h>

#include <functional>

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include "integration/recording/XTestClient.h"
#include "platform/Platform.h"
#include "platform/linux/desktop/LinuxWorkspace.h"
#include "shell/API.h"
#include "shell/Formatting.h"
#include "support/TestFiles.h"

namespace orvo {
namespace {

constexpr int notificationTimeoutMs = 5000;

// A private data folder with the desktop entry of a messenger and its icon in the hicolor theme.
void writeTelegramEntry(const QString& dataDir) {
    ASSERT_TRUE(QDir().mkpath(dataDir + "/applications"));
    ASSERT_TRUE(QDir().mkpath(dataDir + "/icons/hicolor/64x64/apps"));
    test::writeFile(dataDir + "/applications/org.example.telegram.desktop",
                    "[Desktop Entry]\n"
                    "Type=Application\n"
                    "Name=Telegram\n"
                    "Exec=orvo-test-telegram -- %u\n"
                    "Icon=orvo-test-telegram\n"
                    "StartupWMClass=TelegramDesktop\n");
    test::writeFile(dataDir + "/icons/hicolor/index.theme",
                    "[Icon Theme]\nName=Hicolor\nDirectories=64x64/apps\n\n"
                    "[64x64/apps]\nSize=64\nContext=Applications\nType=Threshold\n");
    QImage icon(64, 64, QImage::Format_ARGB32);
    icon.fill(Qt::cyan);
    ASSERT_TRUE(icon.save(dataDir + "/icons/hicolor/64x64/apps/orvo-test-telegram.png"));
}

// Runs the event loop until the workspace announces an application that wanted accepts.
std::optional<RunningApplication>
waitForActivation(Workspace& workspace,
                  const std::function<bool(const RunningApplication&)>& wanted) {
    QEventLoop loop;
    std::optional<RunningApplication> seen;
    auto observation = workspace.notificationCenter().addObserver(
        Workspace::didActivateApplicationNotification, nullptr,
        [&](const NotificationCenter::Notification& notification) {
            const auto application =
                notification.userInfo.value(Workspace::applicationKey).value<RunningApplication>();
            if (wanted(application)) {
                seen = application;
                loop.quit();
            }
        });
    QTimer::singleShot(notificationTimeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return seen;
}

class MessengerTracking : public testing::Test {
protected:
    // After the test's watcher has gone: its observation refers to the workspace.
    void TearDown() override { Platform::shared().clear(); }
};

TEST_F(MessengerTracking, FrontTelegramWindowSetsLastActiveIMItsIconIsCachedAndItIsListedOnce) {
    test::XTestClient x;
    ASSERT_TRUE(x.connected()) << "needs the private X server";
    QTemporaryDir dataDir;
    writeTelegramEntry(dataDir.path());
    qputenv("XDG_DATA_DIRS", dataDir.path().toUtf8());
    test::removeStorageTree();
    ASSERT_TRUE(QDir().mkpath(API::iconAppsPath()));
    setLastActiveIM(std::nullopt);

    auto backend = std::make_unique<LinuxWorkspace>();
    LinuxWorkspace& workspace = *backend;
    Platform::shared().install<Workspace>(std::move(backend));
    ApplicationsManager manager;

    // The icon pass found the entry among the machine-wide applications.
    const QImage cached(API::iconAppsPath() + "/" + MD5("Telegram.app") + ".png");
    ASSERT_FALSE(cached.isNull());
    EXPECT_EQ(cached.size(), QSize(64, 64));
    EXPECT_EQ(cached.pixelColor(32, 32), QColor(Qt::cyan));

    const auto pid = static_cast<std::uint32_t>(getpid());
    const xcb_window_t telegram =
        x.createWindow("Chats", WindowClass{"telegram-desktop", "TelegramDesktop"}, pid);
    x.activate(telegram);
    const auto front = waitForActivation(workspace, [](const RunningApplication& application) {
        return application.localizedName == "Telegram";
    });
    ASSERT_TRUE(front.has_value());
    EXPECT_EQ(front->processIdentifier, std::int64_t(pid));
    EXPECT_EQ(front->bundlePath, dataDir.path() + "/applications/org.example.telegram.desktop");
    EXPECT_EQ(lastActiveIM(), "Telegram.app");

    // Another application without a desktop entry goes by its window class and leaves it.
    const xcb_window_t terminal = x.createWindow("~", WindowClass{"xterm", "XTerm"});
    x.activate(terminal);
    const auto other = waitForActivation(workspace, [](const RunningApplication& application) {
        return application.localizedName == "XTerm";
    });
    ASSERT_TRUE(other.has_value());
    EXPECT_EQ(other->bundlePath, std::nullopt);
    EXPECT_EQ(lastActiveIM(), "Telegram.app");

    // The running applications are the client windows' owners, each once.
    const xcb_window_t call =
        x.createWindow("Call", WindowClass{"telegram-desktop", "TelegramDesktop"}, pid);
    x.setClientList({telegram, call, terminal});
    const auto applications = LinuxWorkspace().runningApplications();
    ASSERT_EQ(applications.size(), 2u);
    EXPECT_EQ(applications[0].localizedName, "Telegram");
    EXPECT_EQ(applications[1].localizedName, "XTerm");
}

TEST_F(MessengerTracking, AWindowWithoutClassIsKnownByItsProcessExecutable) {
    test::XTestClient x;
    ASSERT_TRUE(x.connected()) << "needs the private X server";
    QTemporaryDir dataDir;
    QProcess viber; // stands in for the messenger's process
    viber.start("sleep", {"60"});
    ASSERT_TRUE(viber.waitForStarted());
    const QString executable =
        QFileInfo(QStandardPaths::findExecutable("sleep")).canonicalFilePath();
    ASSERT_TRUE(QDir().mkpath(dataDir.path() + "/applications"));
    test::writeFile(dataDir.path() + "/applications/viber.desktop",
                    "[Desktop Entry]\nType=Application\nName=Viber\nExec=" + executable.toUtf8() +
                        " %u\n");
    qputenv("XDG_DATA_DIRS", dataDir.path().toUtf8());
    setLastActiveIM(std::nullopt);
    auto backend = std::make_unique<LinuxWorkspace>();
    LinuxWorkspace& workspace = *backend;
    Platform::shared().install<Workspace>(std::move(backend));
    ApplicationsManager manager;

    const xcb_window_t window =
        x.createWindow("Viber", std::nullopt, static_cast<std::uint32_t>(viber.processId()));
    x.activate(window);
    const auto front = waitForActivation(workspace, [](const RunningApplication& application) {
        return application.localizedName == "Viber";
    });
    ASSERT_TRUE(front.has_value());
    EXPECT_EQ(lastActiveIM(), "Viber.app");
    viber.kill();
    viber.waitForFinished();
}

} // namespace
} // namespace orvo
