#pragma once

#include <memory>
#include <optional>
#include <vector>

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>

#include "recording/ErrorRecord.h"
#include "tray/ModelTrayMenu.h"
#include "tray/VolumeView.h"

class QAction;
class QWidget;

namespace orvo {

class PrivacyManager;
class RecordManager;

// The status item in the desktop's tray and its menu: every microphone and screen as a
// recording target, the volume row, the records window and quit. Choosing a target starts a
// recording from it; choosing it again stops it. Created once at start-up, lives as long as
// the process. Main thread only.
class OrvoMenuTray : public QObject {
    Q_OBJECT
public:
    // privacy answers the permission questions; the shared instance unless a test asks others.
    explicit OrvoMenuTray(PrivacyManager* privacy = nullptr, QObject* parent = nullptr);
    ~OrvoMenuTray() override;

    const QString txtOpenApp;
    const QString txtStartAudioRecord;
    const QString txtStopAudioRecord;
    const QString txtStartVideoRecord;
    const QString txtStopVideoRecord;
    const QString txtCloseApp;
    const QString txtError;
    const QString txtErrorStartAudioRecordMsg;
    const QString txtErrorStartVideoRecordMsg;
    const QString txtPrivacyMicTitle;
    const QString txtPrivacyMicMsg;
    const QString txtPrivacyVidTitle;
    const QString txtPrivacyVidMsg;
    const QString txtErrorStopAudioRecordMsg;
    const QString txtErrorStopVideoRecordMsg;
    const QString txtTime;
    const QString txtSize;
    const QString txtAudioDevices;
    const QString txtVideoDevices;
    const QString txtVolume;
    const QString txtMb;

    // Rebuilds the menu from the current microphones and screens; targets appear idle.
    void updateMenuItems();
    // With both values: the recording title and the recording icon; otherwise the idle icon
    // and no title.
    void updateTitleMenuItemBar(std::optional<double> withSeconds, std::optional<double> mbFiles);

    // The action of every target: starts a recording from it, or stops the running one.
    void actionMenuStartRecord(QAction* sender);
    // Opens the records window.
    void actionMenuOpenApp();
    // Ends the process at once; a running recording is neither stopped nor restored.
    [[noreturn]] void actionMenuCloseApp();

    bool isRecord() const { return isRecord_; }
    // Every assignment updates the targets and the volume row, also without a change.
    void setIsRecord(bool isRecord);

    bool isVideo() const { return isVideo_; }
    // True from a stop until the engine's outcome has been handled; targets stay disabled.
    bool isStopping() const { return stopPending_; }

    QSystemTrayIcon* statusBarItem() const { return statusBarItem_.get(); }
    QMenu* menu() const { return menu_; }
    const std::vector<std::shared_ptr<ModelTrayMenu>>& menuTrayItems() const {
        return menuTrayItems_;
    }
    const std::shared_ptr<ModelTrayMenu>& selectedItemForRecord() const {
        return selectedItemForRecord_;
    }
    const std::shared_ptr<RecordManager>& recordManager() const { return recordManager_; }
    VolumeView* viewVolume() const { return viewVolume_; }
    // The status item's title: empty when idle; shown as the tray icon's tool tip.
    const QString& title() const { return title_; }
    // The image resource the status item shows: "TrayIcon" or "TrayIconRecord".
    const QString& iconName() const { return iconName_; }

private:
    std::shared_ptr<ModelTrayMenu> entryFor(QAction* menuItem) const;
    QAction* addTarget(const QString& title, bool enabled);
    void startRecord();
    void stopRecord();
    void failStart(std::optional<AudioStatus> status);
    void completedStop(std::optional<ErrorRecord> error);
    void restoreOutput();
    void showIcon(const QString& name);
    // The records window's window, for sheets; none until the records window exists.
    QWidget* alertWindow() const;

    PrivacyManager& privacy_;
    std::unique_ptr<QSystemTrayIcon> statusBarItem_;
    // Replaced as a whole by each rebuild; the old one is deleted with its actions and row.
    QPointer<QMenu> menu_;
    std::vector<std::shared_ptr<ModelTrayMenu>> menuTrayItems_;
    std::shared_ptr<ModelTrayMenu> selectedItemForRecord_;
    std::shared_ptr<RecordManager> recordManager_;
    QPointer<VolumeView> viewVolume_;
    bool isVideo_ = false;
    bool isRecord_ = false;
    bool stopPending_ = false;
    QString title_;
    QString iconName_;
};

} // namespace orvo
