#pragma once

#include <memory>

#include <QMenu>
#include <QObject>
#include <QPointer>

class QAction;

namespace orvo {

class ApplicationsManager;
class OrvoMenuTray;
class RecordingController;

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
    // The one recording control that the tray and the records window present.
    RecordingController* recordingController() const { return recordingController_.get(); }

    void actionMenuUninstall();
    void actionAbout();
    void actionMenuPreferences();
    [[noreturn]] void actionQuit();

private:
    void buildApplicationMenu();
    void setupMenu();
    void continueLaunchWithDriver();
    void setRealmConfiguration();
    // Removes the driver and the storage tree, then ends the process.
    [[noreturn]] static void uninstallApplication();

    const QString txtUninstallTitle;
    const QString txtUninstallMsg;
    const QString txtUninstall;
    const QString txtWarning;
    const QString txtCloseAllSound;

    QMenu applicationMenu_;
    QPointer<QAction> btnUninstallMenu;
    std::unique_ptr<ApplicationsManager> applicationManager;
    // Before the tray, which presents it and so must go first.
    std::unique_ptr<RecordingController> recordingController_;
    std::unique_ptr<OrvoMenuTray> orvoMenuTray_;
    bool launchApplication_ = false;
    int inputDeviceCount = 0;
};

} // namespace orvo
