#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>

#include "control/RecordingController.h"
#include "tray/ModelTrayMenu.h"
#include "tray/RecordingAlerts.h"
#include "tray/VolumeView.h"

class QAction;

namespace orvo {

class RecordManager;

// The status item in the desktop's tray and its menu: every recording target of the
// controller, the volume row, the records window and quit. The menu and its alerts present
// the recording control; the tray does not own it. Created once at start-up, lives as long as the
// process. Main thread only.
class OrvoMenuTray : public QObject {
    Q_OBJECT
public:
    // controller must outlive the tray.
    explicit OrvoMenuTray(RecordingController& controller, QObject* parent = nullptr);
    ~OrvoMenuTray() override;

    const QString txtOpenApp;
    const QString txtCloseApp;
    const QString txtAudioDevices;
    const QString txtVideoDevices;
    const QString txtVolume;

    // Lists the microphones and screens again; the menu follows with idle targets.
    void updateMenuItems();
    // With both values: the recording title and the recording icon; otherwise the idle icon
    // and no title.
    void updateTitleMenuItemBar(std::optional<double> withSeconds, std::optional<double> mbFiles);

    // The action of every target: starts a recording from it, or stops the running one.
    void actionMenuStartRecord(QAction* sender);
    // Runs openProgramWindow (the program's records window, which the tray does not own) and
    // logs it.
    void actionMenuOpenApp();
    // What the open entry does; nothing unless the program sets it.
    std::function<void()> openProgramWindow;
    // Runs quitProgram: the program's quit, which asks first while a recording runs.
    void actionMenuCloseApp();
    // What the quit entry does; ends the process at once unless the program sets its own.
    std::function<void()> quitProgram;

    RecordingController& controller() const { return controller_; }
    // What the recording control reports, told to the user.
    RecordingAlerts& alerts() { return alerts_; }
    bool isRecord() const { return controller_.isRecord(); }
    bool isVideo() const { return controller_.isVideo(); }
    bool isStopping() const { return controller_.isStopping(); }
    const std::shared_ptr<RecordManager>& recordManager() const {
        return controller_.recordManager();
    }

    QSystemTrayIcon* statusBarItem() const { return statusBarItem_.get(); }
    QMenu* menu() const { return menu_; }
    const std::vector<std::shared_ptr<ModelTrayMenu>>& menuTrayItems() const {
        return menuTrayItems_;
    }
    // The entry of the target chosen last; none after a rebuild.
    std::shared_ptr<ModelTrayMenu> selectedItemForRecord() const;
    VolumeView* viewVolume() const { return viewVolume_; }
    // The status item's title: empty when idle, else the recording's title and its warning
    // on a line of its own; shown as the tray icon's tool tip.
    const QString& title() const { return title_; }
    // The image resource the status item shows: "TrayIcon" or "TrayIconRecord".
    const QString& iconName() const { return iconName_; }

private:
    void rebuildMenu();
    void addTargets(RecordType recordType);
    void addVolumeRow();
    void showState();
    void showIcon(const QString& name);
    // The title of the recording (empty when idle) with the controller's warning.
    void showTitle(const QString& recordingTitle);

    RecordingController& controller_;
    RecordingAlerts alerts_;
    std::unique_ptr<QSystemTrayIcon> statusBarItem_;
    // Replaced as a whole by each rebuild; the old one is deleted with its actions and row.
    QPointer<QMenu> menu_;
    std::vector<std::shared_ptr<ModelTrayMenu>> menuTrayItems_;
    // The entries of the controller's targets, in the controller's order.
    std::vector<std::shared_ptr<ModelTrayMenu>> targetItems_;
    QPointer<VolumeView> viewVolume_;
    QString title_;
    QString iconName_;
};

} // namespace orvo
