#include "tray/OrvoMenuTray.h"

#include <algorithm>

#include <QAction>
#include <QCursor>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QWidgetAction>

#include "shell/API.h"
#include "shell/Bundle.h"
#include "shell/Console.h"
#include "shell/Localization.h"
#include "shell/Logging.h"
#include "shell/ProcessExit.h"

namespace orvo {
namespace {
const QString idleIcon = QStringLiteral("TrayIcon");
const QString recordingIcon = QStringLiteral("TrayIconRecord");
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

} // namespace

OrvoMenuTray::OrvoMenuTray(RecordingController& controller, QObject* parent)
    : QObject(parent), txtOpenApp(Localization::text("OPEN_APP")),
      txtCloseApp(Localization::text("CLOSE_APP")),
      txtAudioDevices(Localization::text("AUDIO_DEVICE")),
      txtVideoDevices(Localization::text("VIDEO_DEVICE")), txtVolume(Localization::text("VOLUME")),
      controller_(controller), alerts_(controller),
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
    connect(&controller_, &RecordingController::targetsChanged, this, &OrvoMenuTray::rebuildMenu);
    connect(&controller_, &RecordingController::stateChanged, this, &OrvoMenuTray::showState);
    connect(&controller_, &RecordingController::progressChanged, this,
            &OrvoMenuTray::updateTitleMenuItemBar);
    connect(&controller_, &RecordingController::volumeOfPreviousOutputChanged, this,
            [this](float volume) {
                if (viewVolume_ != nullptr) {
                    viewVolume_->setDevice(controller_.previousOutput());
                    viewVolume_->setVolume(volume);
                }
            });
    // The controller has just listed the targets; the menu presents them as they are.
    rebuildMenu();
}

OrvoMenuTray::~OrvoMenuTray() {
    delete menu_;
}

void OrvoMenuTray::updateMenuItems() {
    controller_.updateTargets();
}

void OrvoMenuTray::rebuildMenu() {
    menuTrayItems_.clear();
    targetItems_.clear();
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
    header(txtVolume);
    header(txtAudioDevices);
    addTargets(RecordType::audio);
    header(txtVideoDevices);
    addTargets(RecordType::video);
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
    addVolumeRow();
    showState();
    statusBarItem_->setContextMenu(menu_);
    Logging::write("Update menu completed", EventLoging::info);
}

void OrvoMenuTray::addTargets(RecordType recordType) {
    const auto& targets = controller_.targets();
    targetItems_.resize(targets.size());
    for (int index = 0; index < int(targets.size()); ++index) {
        const RecordingTarget& target = targets[index];
        if (target.recordType != recordType) {
            continue;
        }
        // Titled now, so that the menu's width, and with it the volume row's, fits them.
        auto* action = new QAction(controller_.titleForTarget(index), menu_);
        connect(action, &QAction::triggered, this,
                [this, action] { actionMenuStartRecord(action); });
        targetItems_[index] = std::make_shared<ModelTrayMenu>(
            target.device, action, QString(), QString(), target.recordType, target.nameDevice);
        menuTrayItems_.push_back(targetItems_[index]);
    }
}

void OrvoMenuTray::addVolumeRow() {
    // As wide as the menu has become, directly below its header.
    auto* volumeView = new VolumeView(QRect(0, 0, menu_->sizeHint().width(), volumeRowHeight));
    viewVolume_ = volumeView;
    auto* volumeItem = new QWidgetAction(menu_);
    volumeItem->setDefaultWidget(volumeView);
    menuTrayItems_.insert(menuTrayItems_.begin() + 1,
                          std::make_shared<ModelTrayMenu>(std::nullopt, volumeItem));
    menu_->insertAction(menu_->actions().at(1), volumeItem);
}

void OrvoMenuTray::showState() {
    for (int index = 0; index < int(targetItems_.size()); ++index) {
        if (QAction* action = targetItems_[index] ? targetItems_[index]->menuItem : nullptr) {
            action->setText(controller_.titleForTarget(index));
            action->setEnabled(controller_.isTargetEnabled(index));
        }
    }
    if (viewVolume_ != nullptr) {
        viewVolume_->slider->setEnabled(controller_.isVolumeEnabled());
    }
    // A warning shows at once, not at the next tick.
    showTitle(controller_.statusText());
}

void OrvoMenuTray::updateTitleMenuItemBar(std::optional<double> withSeconds,
                                          std::optional<double> mbFiles) {
    if (!statusBarItem_) {
        qFatal("The tray has no status item");
    }
    showTitle(controller_.titleText(withSeconds, mbFiles));
}

void OrvoMenuTray::showTitle(const QString& recordingTitle) {
    title_ = recordingTitle;
    showIcon(title_.isEmpty() ? idleIcon : recordingIcon);
    if (!title_.isEmpty() && !controller_.warningText().isEmpty()) {
        title_ += QStringLiteral("\n⚠ ") + controller_.warningText();
    }
    statusBarItem_->setToolTip(title_.isEmpty() ? API::prgName() : title_);
}

void OrvoMenuTray::showIcon(const QString& name) {
    if (name != iconName_) {
        iconName_ = name;
        statusBarItem_->setIcon(loadIcon(name));
    }
}

std::shared_ptr<ModelTrayMenu> OrvoMenuTray::selectedItemForRecord() const {
    const std::optional<int> index = controller_.selectedTarget();
    return index && *index < int(targetItems_.size()) ? targetItems_[*index] : nullptr;
}

void OrvoMenuTray::actionMenuStartRecord(QAction* sender) {
    const auto found =
        std::find_if(targetItems_.begin(), targetItems_.end(), [sender](const auto& entry) {
            return sender != nullptr && entry && entry->menuItem == sender;
        });
    controller_.toggleTarget(found != targetItems_.end() ? int(found - targetItems_.begin()) : -1);
}

void OrvoMenuTray::actionMenuOpenApp() {
    if (openProgramWindow) {
        openProgramWindow();
    }
    Logging::write("Open application", EventLoging::info);
}

void OrvoMenuTray::actionMenuCloseApp() {
    if (quitProgram) {
        quitProgram();
        return;
    }
    exitProcessNow(0);
}

} // namespace orvo
