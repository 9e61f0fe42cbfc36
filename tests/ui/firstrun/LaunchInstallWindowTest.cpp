#include "firstrun/LaunchInstallWindowController.h"

#include <memory>
#include <optional>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "fakes/FakeAudioHardware.h"
#include "firstrun/LaunchInstallViewController.h"
#include "platform/Platform.h"
#include "shell/API.h"
#include "shell/Localization.h"
#include "support/Dialogs.h"
#include "support/TestFiles.h"
#include "ui/AlertDialog.h"
#include "ui/AlertManager.h"
#include "ui/LoadingView.h"

namespace orvo {
namespace {

using test::modalAlert;

// Answers the open alert with its button at index and lets the queued work run.
void answer(int index) {
    AlertDialog* alert = modalAlert();
    ASSERT_NE(alert, nullptr);
    QTest::mouseClick(alert->buttons().at(index), Qt::LeftButton);
    QCoreApplication::processEvents();
}

// The window on a private driver folder, with a script runner that records its calls and,
// when told, installs the driver by creating that folder.
class LaunchInstallWindowTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        test::removeStorageTree();
        auto fake = std::make_unique<FakeAudioHardware>();
        fake->setInstalledDriverPath(root.path() + "/ORVO Record Device");
        Platform::shared().install<AudioHardware>(std::move(fake));

        view()->runScript = [this](const QString& name) {
            scripts << name;
            if (scriptInstalls) {
                QDir().mkpath(API::pathDriver());
            }
            return scriptError;
        };
        view()->restartApplication = [this] { ++restarts; };
        window.exitProcess = [this](int status) { exitStatus = status; };
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    void TearDown() override {
        while (AlertDialog* open = modalAlert()) {
            delete open;
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Platform::shared().clear();
    }

    LaunchInstallViewController* view() { return window.contentViewController(); }
    bool overlaid() { return !view()->findChildren<LoadingView*>().isEmpty(); }
    // Clicks Install and answers the confirmation with its button at index.
    void install(int index) {
        QTest::mouseClick(view()->btnInstall, Qt::LeftButton);
        answer(index);
    }

    QTemporaryDir root;
    LaunchInstallWindowController window;
    QStringList scripts;
    bool scriptInstalls = false;
    std::optional<QString> scriptError;
    int restarts = 0;
    std::optional<int> exitStatus;
};

TEST_F(LaunchInstallWindowTest, AFailedScriptSaysWhyAndLetsTheUserTryAgain) {
    // Cancelling the confirmation runs nothing.
    install(1);
    EXPECT_TRUE(scripts.isEmpty());
    EXPECT_FALSE(view()->isInstall());
    EXPECT_TRUE(view()->btnInstall->isEnabled());
    EXPECT_FALSE(overlaid());
    EXPECT_EQ(modalAlert(), nullptr);

    scriptError = "Request dismissed";
    QTest::mouseClick(view()->btnInstall, Qt::LeftButton);
    QTest::mouseClick(modalAlert()->buttons().at(0), Qt::LeftButton);
    // The overlay comes first; the script waits for the next turn of the event loop.
    EXPECT_TRUE(view()->isInstall());
    EXPECT_TRUE(overlaid());
    EXPECT_FALSE(view()->btnInstall->isEnabled());
    EXPECT_TRUE(scripts.isEmpty());

    QCoreApplication::processEvents();
    EXPECT_EQ(scripts, QStringList{"install_driver"});
    AlertDialog* alert = modalAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->alertStyle(), AlertDialog::Style::critical);
    EXPECT_EQ(alert->informativeText(),
              Localization::format(Localization::text("ERROR_INSTALL"), {"Request dismissed"}));
    EXPECT_FALSE(view()->isInstall());
    EXPECT_FALSE(overlaid());
    EXPECT_TRUE(view()->btnInstall->isEnabled());

    answer(0);
    EXPECT_EQ(restarts, 0);
    install(0);
    EXPECT_EQ(scripts.size(), 2);
}

TEST_F(LaunchInstallWindowTest, TheDriverOnDiskIsSuccessEvenWhenTheScriptComplains) {
    scriptInstalls = true;
    scriptError = "pactl: module already loaded";
    install(0);
    EXPECT_TRUE(QFileInfo(API::settingsPath()).exists()) << "the storage tree is made first";
    AlertDialog* alert = modalAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->alertStyle(), AlertDialog::Style::informational);
    EXPECT_TRUE(view()->isInstall());
    EXPECT_TRUE(overlaid());
    EXPECT_EQ(restarts, 0) << "the restart waits for the alert";

    answer(0);
    EXPECT_EQ(restarts, 1);
}

TEST_F(LaunchInstallWindowTest, ClosingAsksToQuitAndOnlyAConfirmationEndsTheProgram) {
    EXPECT_FALSE(window.close());
    AlertDialog* alert = modalAlert();
    ASSERT_EQ(alert->buttons().size(), 2);
    EXPECT_FALSE(window.close()) << "a second close brings up the same question";
    EXPECT_EQ(window.findChildren<AlertDialog*>().size(), 1);

    answer(1);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(exitStatus, std::nullopt);

    window.close();
    answer(0);
    EXPECT_EQ(exitStatus, 0);
}

} // namespace
} // namespace orvo
