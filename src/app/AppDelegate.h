#pragma once

#include <QMenu>
#include <QObject>
#include <QPointer>

class QAction;

namespace orvo {

// Start-up, the application menu and the ways out of the program. Lives as long as the
// process; main thread only.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(QObject* parent = nullptr);

    // Runs once, from the event loop, when the application has started.
    void applicationDidFinishLaunching();
    void applicationWillTerminate() {}

    // The menu that every window of the program shows first in its menu bar.
    QMenu* applicationMenu() { return &applicationMenu_; }

    bool launchApplication() const { return launchApplication_; }
    void setLaunchApplication(bool launched);

    void actionMenuUninstall();
    void actionAbout();
    void actionMenuPreferences();
    [[noreturn]] void actionQuit();

private:
    void buildApplicationMenu();
    void setupMenu();
    void continueLaunchWithDriver();
    void setRealmConfiguration();

    const QString txtUninstallTitle;
    const QString txtUninstallMsg;
    const QString txtUninstall;
    const QString txtWarning;
    const QString txtCloseAllSound;

    QMenu applicationMenu_;
    QPointer<QAction> btnUninstallMenu;
    bool launchApplication_ = false;
};

} // namespace orvo
