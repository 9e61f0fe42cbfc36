#include "tray/OrvoMenuTray.h"

#include <algorithm>

#include <QAction>
#include <QCursor>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QWidgetAction>

#include "audio/AudioManager.h"
#include "platform/MainThread.h"
#include "recording/PrivacyManager.h"
#include "recording/RecordManager.h"
#include "recording/VideoManager.h"
#include "shell/API.h"
#include "shell/Bundle.h"
#include "shell/Console.h"
#include "shell/Formatting.h"
#include "shell/Localization.h"
#include "shell/Logging.h"
#include "shell/ProcessExit.h"
#include "shell/SettingsManager.h"
#include "ui/AlertManager.h"

namespace orvo {
namespace {
const QString idleIcon = QStringLiteral("TrayIcon");
const QString recordingIcon = QStringLiteral("TrayIconRecord");
// The virtual driver's own devices carry this in their names.
const QString driverNameMark = QStringLiteral("ORVO");
constexpr int volumeRowHeight = 24;

// A plain disc when the image file is missing, so the tray never shows an empty icon.
QIcon loadIcon(const QString& name) {
    if (const auto path = Bundle::pathForResource(name, QStringLiteral("svg"))) {
        QIcon icon(*path);
        if (!icon.isNull()) {
            return icon;
        }
    }
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(name == recordingIcon ? QColor(Qt::red) : QColor(Qt::darkGray));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(4, 4, 24, 24);
    return QIcon(pixmap);
}

QString orEmpty(const std::optional<QString>& text) {
    return text.value_or(QString());
}
} // namespace

OrvoMenuTray::OrvoMenuTray(PrivacyManager* privacy, QObject* parent)
    : QObject(parent), txtOpenApp(Localization::text("OPEN_APP")),
      txtStartAudioRecord(Localization::text("START_AUDIO_RECORD")),
      txtStopAudioRecord(Localization::text("STOP_AUDIO_RECORD")),
      txtStartVideoRecord(Localization::text("START_VIDEO_RECORD")),
      txtStopVideoRecord(Localization::text("STOP_VIDEO_RECORD")),
      txtCloseApp(Localization::text("CLOSE_APP")), txtError(Localization::text("ERROR")),
      txtErrorStartAudioRecordMsg(Localization::text("ERROR_START_AUDIO")),
      txtErrorStartVideoRecordMsg(Localization::text("ERROR_START_VIDEO")),
      txtPrivacyMicTitle(Localization::text("PRIVACY_MIC_TITLE")),
      txtPrivacyMicMsg(Localization::text("PRIVACY_MIC_MSG")),
      txtPrivacyVidTitle(Localization::text("PRIVACY_VID_TITLE")),
      txtPrivacyVidMsg(Localization::text("PRIVACY_VID_MSG")),
      txtErrorStopAudioRecordMsg(Localization::text("ERROR_STOP_AUDIO")),
      txtErrorStopVideoRecordMsg(Localization::text("ERROR_STOP_VIDEO")),
      txtTime(Localization::text("TIME")), txtSize(Localization::text("SIZE")),
      txtAudioDevices(Localization::text("AUDIO_DEVICE")),
      txtVideoDevices(Localization::text("VIDEO_DEVICE")), txtVolume(Localization::text("VOLUME")),
      txtMb(Localization::text("MEGABYTE")),
      privacy_(privacy != nullptr ? *privacy : PrivacyManager::shared()),
      statusBarItem_(std::make_unique<QSystemTrayIcon>()) {
    showIcon(idleIcon);
    statusBarItem_->setToolTip(API::prgName());
    // Desktops open a tray menu on the secondary button; the primary one opens it as well.
    connect(statusBarItem_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger && menu_ != nullptr) {
                    menu_->popup(QCursor::pos());
                }
            });
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        consoleLine("No system tray on this desktop: " + API::prgName() +
                    " runs without its tray icon");
    }
    statusBarItem_->show();
    updateMenuItems();
}

OrvoMenuTray::~OrvoMenuTray() {
    delete menu_;
}

QAction* OrvoMenuTray::addTarget(const QString& title, bool enabled) {
    auto* action = new QAction(title, menu_);
    action->setEnabled(enabled);
    connect(action, &QAction::triggered, this, [this, action] { actionMenuStartRecord(action); });
    return action;
}

void OrvoMenuTray::updateMenuItems() {
    menuTrayItems_.clear();
    if (!statusBarItem_) {
        qFatal("The tray has no status item");
    }
    statusBarItem_->setContextMenu(nullptr);
    if (menu_ != nullptr) {
        // It may be open right now; the event loop deletes it once it has closed.
        menu_->deleteLater();
    }
    menu_ = new QMenu();
    const auto header = [this](const QString& title) {
        auto* action = new QAction(title, menu_);
        action->setEnabled(false);
        menuTrayItems_.push_back(std::make_shared<ModelTrayMenu>(std::nullopt, action));
    };
    // A stop that has not completed keeps every target disabled, so that no new start can
    // replace the device the output has to return to.
    const bool targetsEnabled = !stopPending_;

    header(txtVolume);
    header(txtAudioDevices);
    const auto devices = AudioManager::inputAudioDevices();
    for (const AudioCaptureDevice& device : devices) {
        if (device.localizedName.contains(driverNameMark, Qt::CaseSensitive)) {
            continue;
        }
        QAction* action = addTarget(
            Localization::format(txtStartAudioRecord, {device.localizedName}), targetsEnabled);
        menuTrayItems_.push_back(std::make_shared<ModelTrayMenu>(
            device, action, QString(), QString(), RecordType::audio, device.localizedName));
    }
    header(txtVideoDevices);
    // A screen recording always records sound too: without any input there is nothing to do.
    if (!AudioManager::inputAudioDevices().empty()) {
        for (const QString& screen : VideoManager::screenNameDevices()) {
            QAction* action =
                addTarget(Localization::format(txtStartVideoRecord, {screen}), targetsEnabled);
            menuTrayItems_.push_back(std::make_shared<ModelTrayMenu>(
                std::nullopt, action, QString(), QString(), RecordType::video, screen));
        }
    }
    auto* separator = new QAction(menu_);
    separator->setSeparator(true);
    menuTrayItems_.push_back(std::make_shared<ModelTrayMenu>(std::nullopt, separator));
    auto* openApp = new QAction(txtOpenApp, menu_);
    connect(openApp, &QAction::triggered, this, &OrvoMenuTray::actionMenuOpenApp);
    menuTrayItems_.push_back(std::make_shared<ModelTrayMenu>(std::nullopt, openApp));
    auto* closeApp = new QAction(txtCloseApp, menu_);
    connect(closeApp, &QAction::triggered, this, &OrvoMenuTray::actionMenuCloseApp);
    menuTrayItems_.push_back(std::make_shared<ModelTrayMenu>(std::nullopt, closeApp));

    for (const auto& entry : menuTrayItems_) {
        menu_->addAction(entry->menuItem);
    }

    auto* volumeView = new VolumeView(QRect(0, 0, menu_->sizeHint().width(), volumeRowHeight));
    volumeView->slider->setEnabled(false);
    viewVolume_ = volumeView;
    auto* volumeItem = new QWidgetAction(menu_);
    volumeItem->setDefaultWidget(volumeView);
    menuTrayItems_.insert(menuTrayItems_.begin() + 1,
                          std::make_shared<ModelTrayMenu>(std::nullopt, volumeItem));
    menu_->insertAction(menu_->actions().at(1), volumeItem);

    statusBarItem_->setContextMenu(menu_);
    Logging::write("Update menu completed", EventLoging::info);
}

void OrvoMenuTray::updateTitleMenuItemBar(std::optional<double> withSeconds,
                                          std::optional<double> mbFiles) {
    if (!statusBarItem_) {
        qFatal("The tray has no status item");
    }
    if (withSeconds && mbFiles) {
        // The labels are part of the pattern, as the translations expect.
        const QString pattern = "ORVO: " + txtTime + " " + convertSecondstToMin(*withSeconds) +
                                " " + txtSize + " %.02f %@";
        title_ = Localization::format(pattern, {*mbFiles, txtMb});
        showIcon(recordingIcon);
        statusBarItem_->setToolTip(title_);
    } else {
        title_.clear();
        showIcon(idleIcon);
        statusBarItem_->setToolTip(API::prgName());
    }
}

void OrvoMenuTray::showIcon(const QString& name) {
    if (name != iconName_) {
        iconName_ = name;
        statusBarItem_->setIcon(loadIcon(name));
    }
}

std::shared_ptr<ModelTrayMenu> OrvoMenuTray::entryFor(QAction* menuItem) const {
    const auto found =
        std::find_if(menuTrayItems_.begin(), menuTrayItems_.end(), [menuItem](const auto& entry) {
            return menuItem != nullptr && entry->menuItem == menuItem;
        });
    return found != menuTrayItems_.end() ? *found : nullptr;
}

void OrvoMenuTray::actionMenuStartRecord(QAction* sender) {
    if (stopPending_ && !isRecord_) {
        // The previous recording is still being finished; its targets are disabled.
        return;
    }
    selectedItemForRecord_ = entryFor(sender);
    if (isRecord_) {
        stopRecord();
    } else {
        startRecord();
    }
}

void OrvoMenuTray::stopRecord() {
    // Until the engine has reported, every target stays disabled: a new start would replace
    // the device that the output has to return to.
    stopPending_ = recordManager_ != nullptr;
    setIsRecord(false);
    updateTitleMenuItemBar(std::nullopt, std::nullopt);
    if (!recordManager_) {
        restoreOutput();
        return;
    }
    QPointer<OrvoMenuTray> tray(this);
    recordManager_->stopRecord([tray](bool, std::optional<ErrorRecord> error) {
        dispatchToMain([tray, error] {
            if (tray != nullptr) {
                tray->completedStop(error);
            }
        });
    });
}

void OrvoMenuTray::completedStop(std::optional<ErrorRecord> error) {
    restoreOutput();
    stopPending_ = false;
    setIsRecord(isRecord_);
    if (!error) {
        recordManager_.reset();
        Logging::write("Stop record success", EventLoging::ok);
        return;
    }
    Logging::write("Stop record with error: " +
                       QString(*error == ErrorRecord::margeFail ? "margeFail" : "margeUnknow"),
                   EventLoging::error);
    AlertManager::shared().showDefaultAlert(
        alertWindow(), txtError,
        Localization::format(isVideo_ ? txtErrorStopVideoRecordMsg : txtErrorStopAudioRecordMsg,
                             {rawValue(*error)}),
        AlertManager::AlertStyle::critical, QStringLiteral("OK"));
}

void OrvoMenuTray::restoreOutput() {
    AudioManager::setOutputDevice(AudioManager::currentDefaultDeviceID);
    AudioManager::removeAggregateDeviceWithDefaultDevice();
}

void OrvoMenuTray::startRecord() {
    isVideo_ = selectedItemForRecord_ && selectedItemForRecord_->recordType == RecordType::video;

    // The answer may come on any thread; the user chooses the entry again once allowed.
    if (!privacy_.checkMicrophonePrivacy()) {
        QPointer<OrvoMenuTray> tray(this);
        privacy_.requestMicrophonePrivacy([tray](bool granted) {
            dispatchToMain([tray, granted] {
                if (tray == nullptr || granted) {
                    return;
                }
                Logging::write("No privacy microphone", EventLoging::ok);
                AlertManager::shared().showDefaultAlert(
                    tray->alertWindow(), tray->txtPrivacyMicTitle, tray->txtPrivacyMicMsg);
            });
        });
        return;
    }
    if (isVideo_ && !privacy_.checkScreenCapture()) {
        privacy_.requestScreenCapture();
        Logging::write("No privacy screencapture", EventLoging::ok);
        AlertManager::shared().showDefaultAlert(alertWindow(), txtPrivacyVidTitle,
                                                txtPrivacyVidMsg);
        return;
    }

    // A screen recording takes the microphone of the settings, else the first one listed.
    std::optional<AudioCaptureDevice> microphone;
    if (isVideo_) {
        const QString wanted = SettingsManager::shared().getValue("DefaultAudioDeviceForVideo");
        auto found = std::find_if(menuTrayItems_.begin(), menuTrayItems_.end(), [&](const auto& e) {
            return e->device && e->device->localizedName == wanted;
        });
        if (found == menuTrayItems_.end()) {
            found = std::find_if(menuTrayItems_.begin(), menuTrayItems_.end(),
                                 [](const auto& e) { return e->recordType == RecordType::audio; });
        }
        if (found != menuTrayItems_.end()) {
            microphone = (*found)->device;
        }
    } else if (selectedItemForRecord_) {
        microphone = selectedItemForRecord_->device;
    }

    // The driver's input brings back what the user hears.
    std::optional<AudioCaptureDevice> driverDevice;
    for (const AudioCaptureDevice& device : AudioManager::inputAudioDevices()) {
        if (device.localizedName.contains(driverNameMark, Qt::CaseSensitive)) {
            driverDevice = device;
            break;
        }
    }

    const std::optional<AudioStatus> status =
        AudioManager::createAggregateDeviceWithDefaultDevice();
    const QString qualityVideo = SettingsManager::shared().getValue("QVideo");
    const QString qualityAudio = SettingsManager::shared().getValue("QAudio");

    // The screen's position among the screen entries; 0 for audio recordings.
    int screenCount = 0;
    int position = 0;
    for (const auto& entry : menuTrayItems_) {
        if (entry->recordType != RecordType::video) {
            continue;
        }
        if (entry == selectedItemForRecord_) {
            screenCount = position;
            break;
        }
        ++position;
    }

    if (!status || *status != noErr || AudioManager::currentAggreagteDeviceID == 0) {
        failStart(status);
        return;
    }

    // An absent screen falls back to the main display inside the engine.
    auto engine = RecordManager::create({microphone, driverDevice}, isVideo_,
                                        convertQuality(isVideo_ ? qualityVideo : qualityAudio),
                                        VideoManager::screenDeviceID(screenCount));
    if (!engine) {
        failStart(status);
        return;
    }

    // The output goes through the aggregate, so the driver hears what the user hears.
    AudioManager::setOutputDevice(AudioManager::currentAggreagteDeviceID);
    const float volume = AudioManager::getVolumeDevice(AudioManager::currentDefaultDeviceID);
    if (viewVolume_ != nullptr) {
        viewVolume_->setVolume(volume);
    }

    setIsRecord(true);
    recordManager_ = engine;
    QPointer<OrvoMenuTray> tray(this);
    recordManager_->changeSeconds = [tray](double seconds, double megabytes) {
        if (tray != nullptr) {
            tray->updateTitleMenuItemBar(seconds, megabytes);
        }
    };
    recordManager_->startRecord();
    Logging::write("Start record success", EventLoging::ok);
}

void OrvoMenuTray::failStart(std::optional<AudioStatus> status) {
    const QString deviceName = selectedItemForRecord_ && selectedItemForRecord_->device
                                   ? selectedItemForRecord_->device->localizedName
                                   : QString();
    const QString statusText = status ? QString::number(*status) : QString();
    AlertManager::shared().showDefaultAlert(
        alertWindow(), txtError,
        Localization::format(isVideo_ ? txtErrorStartVideoRecordMsg : txtErrorStartAudioRecordMsg,
                             {deviceName, statusText}),
        AlertManager::AlertStyle::critical, QStringLiteral("OK"));
    restoreOutput();
    Logging::write("No create aggregate", EventLoging::error);
}

void OrvoMenuTray::setIsRecord(bool isRecord) {
    isRecord_ = isRecord;
    if (selectedItemForRecord_ && selectedItemForRecord_->recordType &&
        selectedItemForRecord_->menuItem != nullptr) {
        const bool audio = *selectedItemForRecord_->recordType == RecordType::audio;
        const QString& format = isRecord ? (audio ? txtStopAudioRecord : txtStopVideoRecord)
                                         : (audio ? txtStartAudioRecord : txtStartVideoRecord);
        selectedItemForRecord_->menuItem->setText(
            Localization::format(format, {orEmpty(selectedItemForRecord_->nameDevice)}));
    }
    const std::optional<QString> selectedName =
        selectedItemForRecord_ ? selectedItemForRecord_->nameDevice : std::nullopt;
    for (const auto& entry : menuTrayItems_) {
        if (!entry->recordType || entry->menuItem == nullptr) {
            continue;
        }
        if (stopPending_) {
            entry->menuItem->setEnabled(false);
        } else if (entry->nameDevice != selectedName) {
            entry->menuItem->setEnabled(!isRecord);
        } else {
            // The chosen target is the stop command while recording.
            entry->menuItem->setEnabled(true);
        }
    }
    if (viewVolume_ != nullptr) {
        viewVolume_->slider->setEnabled(isRecord);
    }
}

QWidget* OrvoMenuTray::alertWindow() const {
    // The records window joins here once it exists.
    return nullptr;
}

void OrvoMenuTray::actionMenuOpenApp() {
    // The records window joins here once it exists.
    Logging::write("Open application", EventLoging::info);
}

void OrvoMenuTray::actionMenuCloseApp() {
    exitProcessNow(0);
}

} // namespace orvo
