#include "app/AppDelegate.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "connectivity/ConnectionManager.h"
#include "fakes/FakeAudioHardware.h"
#include "fakes/FakeNetworkReachability.h"
#include "firstrun/LaunchInstallWindowController.h"
#include "platform/LoginItems.h"
#include "platform/Platform.h"
#include "platform/linux/desktop/XdgAutostartLoginItems.h"
#include "shell/API.h"
#include "shell/CopyFiles.h"
#include "shell/Localization.h"
#include "shell/Logging.h"
#include "store/Realm.h"
#include "support/TestFiles.h"
#include "ui/AlertDialog.h"
#include "ui/LoadingView.h"

namespace orvo {
namespace {

// Audio hardware on which the driver is installed in that folder.
void installDriverAt(const QString& folder) {
    auto hardware = std::make_unique<FakeAudioHardware>();
    hardware->setInstalledDriverPath(folder);
    Platform::shared().install<AudioHardware>(std::move(hardware));
}

TEST(AppDelegate, PreferencesWaitForTheLaunch) {
    AppDelegate delegate;
    QMenu* menu = delegate.applicationMenu();
    delegate.setLaunchApplication(false);
    EXPECT_FALSE(menu->actions()[2]->isEnabled());
    delegate.setLaunchApplication(true);
    EXPECT_TRUE(menu->actions()[2]->isEnabled());
    EXPECT_TRUE(delegate.launchApplication());
}

TEST(AppDelegate, StartWithoutTheDriverStopsBeforeTheLaunchedState) {
    if (QFileInfo::exists(API::pathDriver())) {
        GTEST_SKIP() << "the virtual driver is installed on this machine";
    }
    test::removeStorageTree();
    QLocale::setDefault(QLocale(QLocale::English));
    AppDelegate delegate;
    delegate.setLaunchApplication(true);
    delegate.applicationDidFinishLaunching();

    QMenu* menu = delegate.applicationMenu();
    EXPECT_EQ(menu->actions()[4]->text(), "Uninstall " + API::prgName());
    EXPECT_FALSE(menu->actions()[2]->isEnabled());
    EXPECT_FALSE(delegate.launchApplication());

    LaunchInstallWindowController* window = delegate.launcherInstall();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), Localization::text("INSTAL_COMPONENTS"));
    EXPECT_EQ(delegate.orvoMenuTray(), nullptr);
}

// Asks to uninstall and agrees, as the user does.
void confirmUninstall(AppDelegate& delegate) {
    delegate.actionMenuUninstall();
    auto* confirmation = qobject_cast<AlertDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(confirmation, nullptr);
    QTest::mouseClick(confirmation->buttons().at(0), Qt::LeftButton);
    QCoreApplication::processEvents();
}

TEST(AppDelegate, ADeclinedUninstallOrOneThatLeavesTheDriverDeletesNothing) {
    QTemporaryDir driver;
    installDriverAt(driver.path());
    test::removeStorageTree();
    CopyFiles::checkFilesAndCopy();
    AppDelegate delegate;
    QStringList scripts;
    delegate.runDriverScript = [&scripts](const QString& name) {
        scripts << name;
        return std::optional<QString>("Error executing command as another user: Not authorized");
    };
    std::optional<int> exitStatus;
    delegate.exitAfterUninstall = [&exitStatus](int status) { exitStatus = status; };

    delegate.actionMenuUninstall();
    auto* alert = qobject_cast<AlertDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(alert, nullptr);
    ASSERT_EQ(alert->buttons().size(), 2);
    QTest::mouseClick(alert->buttons().at(1), Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_TRUE(scripts.isEmpty());
    EXPECT_TRUE(QFileInfo::exists(API::settingsPath()));
    EXPECT_TRUE(test::readFile(Logging::dayFilePath(QDateTime::currentDateTimeUtc()))
                    .contains("Uninstall application begin"));

    // Agreed, a driver script that fails says why.
    confirmUninstall(delegate);
    EXPECT_EQ(scripts, QStringList{"uninstall_driver"});

    auto* error = qobject_cast<AlertDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->alertStyle(), AlertDialog::Style::critical);
    EXPECT_EQ(error->informativeText(), "Error executing command as another user: Not authorized");
    EXPECT_TRUE(QFileInfo::exists(API::settingsPath()));
    EXPECT_TRUE(QFileInfo(API::iconAppsPath()).isDir());
    EXPECT_EQ(exitStatus, std::nullopt);
    delete error;
    Platform::shared().clear();
}

TEST(AppDelegate, AnUninstallShowsItIsBusyAndTakesTheLoginItemAlong) {
    QTemporaryDir driver;
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    installDriverAt(driver.path());
    Platform::shared().install<LoginItems>(
        std::make_unique<XdgAutostartLoginItems>("/usr/bin/true"));
    ASSERT_TRUE(
        Platform::shared().get<LoginItems>().setLoginItemEnabled(API::budnleIDHelper(), true));
    const QString autostart = config.path() + "/autostart";
    ASSERT_EQ(QDir(autostart).entryList(QDir::Files).size(), 1);
    test::removeStorageTree();
    CopyFiles::checkFilesAndCopy();
    AppDelegate delegate;
    Realm::setDefaultConfiguration({API::recordsRealmPath(), 1});
    delegate.showRecordsWindow();
    bool busyWhileRunning = false;
    delegate.runDriverScript = [&](const QString&) {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            const auto* overlay = top->findChild<LoadingView*>();
            busyWhileRunning = busyWhileRunning || (overlay != nullptr && overlay->isVisible());
        }
        QDir(driver.path()).removeRecursively();
        return std::optional<QString>();
    };
    std::optional<int> exitStatus;
    delegate.exitAfterUninstall = [&exitStatus](int status) { exitStatus = status; };

    confirmUninstall(delegate);
    ASSERT_TRUE(QTest::qWaitFor([&] { return exitStatus.has_value(); }, 5000));
    EXPECT_EQ(exitStatus, 0);
    EXPECT_TRUE(busyWhileRunning);
    EXPECT_TRUE(QDir(autostart).entryList(QDir::Files).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(API::settingsPath()));
    Platform::shared().clear();
    qunsetenv("XDG_CONFIG_HOME");
}

TEST(AppDelegate, StartWithTheDriverWatchesTheNetworkAndTellsEachChange) {
    QTemporaryDir driver;
    installDriverAt(driver.path());
    auto fake = std::make_unique<FakeNetworkReachability>();
    FakeNetworkReachability* network = fake.get();
    Platform::shared().install<NetworkReachability>(std::move(fake));
    test::removeStorageTree();
    std::vector<std::optional<Reachability::Connection>> seen;
    const auto observation = NotificationCenter::shared().addObserver(
        ConnectionManager::notificationConnectionStatus, nullptr,
        [&seen](const auto& note) { seen.push_back(ConnectionManager::connectionOf(note)); });

    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    ASSERT_TRUE(delegate.launchApplication());
    QCoreApplication::processEvents();
    network->deliver(ReachabilityFlags{ReachabilityFlags::reachable});
    QCoreApplication::processEvents();

    EXPECT_EQ(seen, (std::vector<std::optional<Reachability::Connection>>{
                        Reachability::Connection::unavailable, Reachability::Connection::wifi}));
    EXPECT_FALSE(test::readFile(Logging::dayFilePath(QDateTime::currentDateTimeUtc()))
                     .contains("Error occured while starting reachability notifications"));
    Platform::shared().clear();
}

TEST(AppDelegateDeathTest, QuitEndsTheProcessAtOnceWithStatusZero) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    AppDelegate delegate;
    EXPECT_EXIT(delegate.applicationMenu()->actions().last()->trigger(), testing::ExitedWithCode(0),
                "");
}

} // namespace
} // namespace orvo
