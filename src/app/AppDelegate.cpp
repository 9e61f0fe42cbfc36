#include "app/AppDelegate.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include "audio/AudioManager.h"
#include "audio/DriverScriptRunner.h"
#include "browser/MainWindowController.h"
#include "connectivity/ConnectionManager.h"
#include "control/CallDetection.h"
#include "control/RecordingController.h"
#include "firstrun/LaunchInstallWindowController.h"
#include "platform/LoginItems.h"
#include "platform/Platform.h"
#include "platform/Workspace.h"
#include "preferences/PreferencesWindowController.h"
#include "recording/ApplicationsManager.h"
#include "recording/EchoRemoval.h"
#include "recording/SegmentRecovery.h"
#include "shell/API.h"
#include "shell/CopyFiles.h"
#include "shell/Localization.h"
#include "shell/Logging.h"
#include "shell/ProcessExit.h"
#include "store/Realm.h"
#include "support/AboutWindowController.h"
#include "tray/OrvoMenuTray.h"
#include "ui/AlertManager.h"
#include "ui/ViewExtensions.h"

namespace orvo {
namespace {
// The item that stays disabled until start-up has completed: Preferences.
constexpr int guardedItemIndex = 2;
constexpr int inputWatchIntervalMs = 2000;
} // namespace

AppDelegate::AppDelegate(QObject* parent)
    : QObject(parent), txtUninstallTitle(Localization::text("UNINSTALL_TITLE")),
      txtUninstallMsg(Localization::text("UNINSTALL_MSG")),
      txtUninstall(Localization::text("UNINSTALL")), txtWarning(Localization::text("WARNING")),
      txtCloseAllSound(Localization::text("CLOSE_ALL_ACTIVE_SOUND")) {
    buildApplicationMenu();
}

AppDelegate::~AppDelegate() {
    delete mainWC_;
}

MainWindowController* AppDelegate::mainWC() const {
    return static_cast<MainWindowController*>(mainWC_.data());
}

void AppDelegate::showRecordsWindow() {
    if (mainWC_ == nullptr) {
        auto* window = new MainWindowController(&applicationMenu_, recordingController_.get());
        window->setCallDetection(callDetection_.get());
        mainWC_ = window;
        // The recording's alerts become sheets of the records window.
        if (orvoMenuTray_) {
            orvoMenuTray_->alerts().setAlertWindow(mainWC_);
        }
    }
    if (!mainWC_->isVisible()) {
        mainWC_->show();
    }
    mainWC_->raise();
    mainWC_->activateWindow();
}

void AppDelegate::buildApplicationMenu() {
    applicationMenu_.setTitle(API::prgName());
    connect(applicationMenu_.addAction(Localization::text("ABOUT_TITLE")), &QAction::triggered,
            this, &AppDelegate::actionAbout);
    applicationMenu_.addSeparator();
    connect(applicationMenu_.addAction(Localization::text("PREF")), &QAction::triggered, this,
            &AppDelegate::actionMenuPreferences);
    applicationMenu_.addSeparator();
    btnUninstallMenu = applicationMenu_.addAction(QString());
    connect(btnUninstallMenu, &QAction::triggered, this, &AppDelegate::actionMenuUninstall);
    applicationMenu_.addSeparator();
    connect(applicationMenu_.addAction(Localization::text("EXITE")), &QAction::triggered, this,
            &AppDelegate::actionQuit);
}

void AppDelegate::setLaunchApplication(bool launched) {
    launchApplication_ = launched;
    const auto items = applicationMenu_.actions();
    if (guardedItemIndex < items.size()) {
        items[guardedItemIndex]->setEnabled(launched);
    }
}

void AppDelegate::applicationDidFinishLaunching() {
    Logging::write("Launch application " + API::prgTitle(), EventLoging::info);
    CopyFiles::checkFilesAndCopy();
    CopyFiles::makeTreePrivate();
    setupMenu();
    setLaunchApplication(false);
    if (!QFileInfo::exists(API::pathDriver())) {
        Logging::write("Driver not found. install", EventLoging::info);
        if (!launcherInstall_) {
            launcherInstall_ = std::make_unique<LaunchInstallWindowController>();
        }
        launcherInstall_->show();
        return;
    }
    continueLaunchWithDriver();
}

void AppDelegate::setupMenu() {
    if (btnUninstallMenu.isNull()) {
        qFatal("The application menu has no uninstall item");
    }
    btnUninstallMenu->setText(Localization::format(txtUninstallTitle, {API::prgName()}));
}

void AppDelegate::continueLaunchWithDriver() {
    setRealmConfiguration();
    // Before the recovery, which hands it what it brings back.
    echoRemoval_ = std::make_unique<EchoRemoval>();
    recoverLeftovers();
    recordingController_ = std::make_unique<RecordingController>();
    connect(recordingController_.get(), &RecordingController::recordSaved, this,
            [this](const QString& fileName) { echoRemoval_->add(fileName); });
    callDetection_ = std::make_unique<CallDetection>(*recordingController_);
    if (mainWC() != nullptr) {
        mainWC()->setCallDetection(callDetection_.get());
    }
    orvoMenuTray_ = std::make_unique<OrvoMenuTray>(*recordingController_);
    orvoMenuTray_->quitProgram = [this] { actionQuit(); };
    orvoMenuTray_->openProgramWindow = [this] { showRecordsWindow(); };
    orvoMenuTray_->alerts().setAlertWindow(mainWC_);
    orvoMenuTray_->actionMenuOpenApp();
    applicationManager = std::make_unique<ApplicationsManager>();
    ConnectionManager::sharedInstance().observeReachability();
    inputDeviceCount = int(AudioManager::inputAudioDevices().size());
    detectInputAudio();
    setLaunchApplication(true);
    Logging::write("Launch applocation completed " + API::prgTitle(), EventLoging::info);
}

void AppDelegate::detectInputAudio() {
    const int count = int(AudioManager::inputAudioDevices().size());
    if (count != inputDeviceCount) {
        Logging::write("Add/Remove new input device", EventLoging::info);
        // The tray and the records window follow the new list.
        if (recordingController_) {
            recordingController_->updateTargets();
        }
        inputDeviceCount = count;
    }
    QTimer::singleShot(inputWatchIntervalMs, this, &AppDelegate::detectInputAudio);
}

void AppDelegate::recoverLeftovers() {
    segmentRecovery_ = std::make_unique<SegmentRecovery>([this](const QString& name,
                                                                const QString& fileName) {
        if (auto* workspace = Platform::shared().find<Workspace>()) {
            workspace->notifyUser(
                Localization::format(Localization::text("RECORDING_RECOVERED"), {name}), QString());
        }
        echoRemoval_->add(fileName);
    });
    segmentRecovery_->start();
}

void AppDelegate::setRealmConfiguration() {
    Realm::setDefaultConfiguration({API::recordsRealmPath(), 1});
}

void AppDelegate::actionMenuUninstall() {
    Logging::write("Uninstall application begin", EventLoging::info);
    const QString message = Localization::format(txtUninstallMsg, {API::prgName()}) + "\n" +
                            txtWarning + "\n" + txtCloseAllSound;
    // A sheet on the records window when it is open; application-modal otherwise.
    QWidget* window = mainWC_;
    AlertManager::shared().showDefaultAlert(
        window, Localization::format(txtUninstallTitle, {API::prgName()}), message,
        AlertManager::AlertStyle::warning, txtUninstall, true, QString(), [this](bool confirmed) {
            if (confirmed)
                QTimer::singleShot(0, this, &AppDelegate::uninstallApplication);
        });
}

void AppDelegate::uninstallApplication() {
    // The script blocks while the password dialog waits: the records window shows it is busy,
    // drawn before the script starts.
    if (mainWC_ != nullptr) {
        enableLoadingView(mainWC_);
        mainWC_->repaint();
    }
    // What was made ahead of a start plays to the driver: it goes first.
    releaseDevicesThen([this] { removeDriverAndExit(); });
}

void AppDelegate::releaseDevicesThen(std::function<void()> next) {
    if (!recordingController_) {
        next();
        return;
    }
    // next runs only while the controller, and so this object, still lives.
    recordingController_->releaseDevices(std::move(next));
}

void AppDelegate::removeDriverAndExit() {
    const std::optional<QString> error = runDriverScript(QStringLiteral("uninstall_driver"));
    // A refused password or a failed script leaves the driver: the recordings stay too, so
    // that trying again loses nothing.
    if (QFileInfo::exists(API::pathDriver())) {
        const QString reason = error.value_or(Localization::format(
            Localization::text("DRIVER_STILL_INSTALLED"), {API::pathDriver()}));
        QWidget* window = mainWC_;
        if (window != nullptr) {
            disableLoadingView(window);
        }
        AlertManager::shared().showDefaultAlert(window, Localization::text("ERROR"), reason,
                                                AlertManager::AlertStyle::critical);
        if (recordingController_) {
            recordingController_->keepDevicesReady();
        }
        return;
    }
    // The next login would bring the program back to its install window.
    if (auto* loginItems = Platform::shared().find<LoginItems>()) {
        loginItems->setLoginItemEnabled(API::budnleIDHelper(), false);
    }
    QDir(API::homePath()).removeRecursively();
    exitAfterUninstall(0);
}

void AppDelegate::actionAbout() {
    if (!mainAbout) {
        mainAbout = std::make_unique<AboutWindowController>();
    }
    mainAbout->showWindow();
}

void AppDelegate::actionMenuPreferences() {
    if (!mainPreferences) {
        mainPreferences = std::make_unique<PreferencesWindowController>();
    }
    mainPreferences->showWindow();
}

void AppDelegate::actionQuit() {
    if (!recordingController_ ||
        (!recordingController_->isRecord() && !recordingController_->isStopping())) {
        releaseDevicesThen([this] { exitProgram(0); });
        return;
    }
    QWidget* window = mainWC_;
    QPointer<AppDelegate> self(this);
    AlertManager::shared().showDefaultAlert(
        window, Localization::text("EXITE"),
        Localization::format(Localization::text("QUEST_QUIT_RECORDING"), {API::prgName()}),
        AlertManager::AlertStyle::warning, Localization::text("STOP_AND_QUIT"), true, QString(),
        [self](bool confirmed) {
            if (confirmed && self != nullptr) {
                self->stopAndQuit();
            }
        });
}

void AppDelegate::stopAndQuit() {
    Logging::write("Quit during a recording: stop and save first", EventLoging::info);
    QPointer<AppDelegate> self(this);
    recordingController_->stopAndFinalise(
        [self] {
            if (self != nullptr) {
                self->releaseDevicesThen([self] { self->exitProgram(0); });
            }
        },
        true);
}

void AppDelegate::showFront() {
    if (orvoMenuTray_) {
        orvoMenuTray_->actionMenuOpenApp();
    } else if (launcherInstall_) {
        launcherInstall_->show();
        launcherInstall_->raise();
        launcherInstall_->activateWindow();
    }
}

void AppDelegate::terminateOnSignal(int signalNumber) {
    if (terminating_) {
        return;
    }
    terminating_ = true;
    Logging::write("Terminate on signal " + QString::number(signalNumber), EventLoging::info);
    QPointer<AppDelegate> self(this);
    const auto exit = [self] {
        if (self != nullptr) {
            self->exitProgram(0);
        }
    };
    // An output that does not close in time must not keep the session waiting: its segment
    // is crash-safe as it is. The output went back at once unless the server hangs, and then
    // the next start removes the combined output.
    QTimer::singleShot(terminateTimeoutMs, this, [this] { exitProgram(0); });
    if (recordingController_) {
        recordingController_->closeForExit(exit);
    } else {
        exit();
    }
}

} // namespace orvo
