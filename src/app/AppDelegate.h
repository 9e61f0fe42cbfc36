#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QMenu>
#include <QObject>
#include <QPointer>

#include "audio/DriverScriptRunner.h"
#include "shell/ProcessExit.h"

class QAction;

namespace orvo {

class AboutWindowController;
class CallDetection;
class ApplicationsManager;
class LaunchInstallWindowController;
class MainWindowController;
class OrvoMenuTray;
class PreferencesWindowController;
class RecordingController;
class EchoRemoval;
class SegmentRecovery;

// Start-up, the application menu and the ways out of the program. Lives as long as the
// process; main thread only.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    // Runs once, from the event loop, when the application has started.
    void applicationDidFinishLaunching();
    void applicationWillTerminate() {}

    // The menu that every window of the program shows first in its menu bar.
    QMenu* applicationMenu() { return &applicationMenu_; }

    bool launchApplication() const { return launchApplication_; }
    void setLaunchApplication(bool launched);

    // Counts the audio input devices, logs a change and checks again 2 s later.
    void detectInputAudio();

    OrvoMenuTray* orvoMenuTray() const { return orvoMenuTray_.get(); }
    // The records window, made on first opening and kept.
    MainWindowController* mainWC() const;
    // Shows the records window, made on first showing; what the tray's open entry does.
    void showRecordsWindow();
    // The one recording control that the tray and the records window present.
    RecordingController* recordingController() const { return recordingController_.get(); }
    // Notices calls and offers to record them, or records them, as the preferences say.
    CallDetection* callDetection() const { return callDetection_.get(); }

    // The driver installation window, shown at start while the driver is missing.
    LaunchInstallWindowController* launcherInstall() const { return launcherInstall_.get(); }
    // The preferences window, once the menu has asked for it.
    PreferencesWindowController* preferencesWindow() const { return mainPreferences.get(); }
    // The about window, once the menu has asked for it.
    AboutWindowController* aboutWindow() const { return mainAbout.get(); }

    // Runs a driver script by name with administrator rights; absent on success, else the
    // error text. Replaceable for tests; default DriverScriptRunner::run.
    std::function<std::optional<QString>(const QString& name)> runDriverScript =
        &DriverScriptRunner::run;
    // Ends the process after an uninstall; replaceable for tests; default exitProcessNow.
    std::function<void(int status)> exitAfterUninstall = [](int status) { exitProcessNow(status); };
    // Ends the process after a quit or a termination signal; replaceable for tests.
    std::function<void(int status)> exitProgram = [](int status) { exitProcessNow(status); };

    void actionMenuUninstall();
    void actionAbout();
    void actionMenuPreferences();
    // Ends the program. While a recording runs it asks first; confirmed, the recording is
    // stopped and finalised under the loading sheet, then the process ends with status 0.
    void actionQuit();
    // Another copy of the program was started: this one shows its window instead, the records
    // window, or the driver installation while it is missing. Nothing before the start-up.
    void showFront();
    // A termination signal: the recording's segments are closed for the next start, the
    // output given back, and the process ends with status 0 within terminateTimeoutMs.
    void terminateOnSignal(int signalNumber);
    static constexpr int terminateTimeoutMs = 1500;

    // The recovery of recordings left as segments, started with the tray; absent before.
    SegmentRecovery* segmentRecovery() const { return segmentRecovery_.get(); }
    // Takes the echo out of the recordings the user stops; absent before the tray.
    EchoRemoval* echoRemoval() const { return echoRemoval_.get(); }

private:
    void buildApplicationMenu();
    void setupMenu();
    void continueLaunchWithDriver();
    void setRealmConfiguration();
    void recoverLeftovers();
    void stopAndQuit();
    // Removes the driver, then the storage tree, and ends the process. While the driver is
    // still there (password refused, script failed) it says why and keeps everything.
    void uninstallApplication();
    void removeDriverAndExit();
    // Removes what was made ahead of a start, then runs next.
    void releaseDevicesThen(std::function<void()> next);

    const QString txtUninstallTitle;
    const QString txtUninstallMsg;
    const QString txtUninstall;
    const QString txtWarning;
    const QString txtCloseAllSound;

    QMenu applicationMenu_;
    QPointer<QAction> btnUninstallMenu;
    std::unique_ptr<LaunchInstallWindowController> launcherInstall_;
    std::unique_ptr<ApplicationsManager> applicationManager;
    std::unique_ptr<AboutWindowController> mainAbout;
    std::unique_ptr<PreferencesWindowController> mainPreferences;
    // Fed by the controller: outlives it.
    std::unique_ptr<EchoRemoval> echoRemoval_;
    // Before the tray, which presents it and so must go first.
    std::unique_ptr<RecordingController> recordingController_;
    // Drives the controller: goes before it.
    std::unique_ptr<CallDetection> callDetection_;
    std::unique_ptr<OrvoMenuTray> orvoMenuTray_;
    // Presents the controller: deleted before it, in the destructor.
    QPointer<QWidget> mainWC_;
    std::unique_ptr<SegmentRecovery> segmentRecovery_;
    bool terminating_ = false;
    bool launchApplication_ = false;
    int inputDeviceCount = 0;
};

} // namespace orvo
