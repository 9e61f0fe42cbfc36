#include "firstrun/LaunchInstallWindowController.h"

#include <QCloseEvent>
#include <QVBoxLayout>

#include "firstrun/LaunchInstallViewController.h"
#include "shell/Localization.h"
#include "shell/ProcessExit.h"
#include "ui/AlertManager.h"

namespace orvo {
namespace {
constexpr QSize windowSize(480, 300);
} // namespace

LaunchInstallWindowController::LaunchInstallWindowController(QWidget* parent)
    : QWidget(parent, Qt::Window), titleController(Localization::text("INSTAL_COMPONENTS")),
      txtTitleQuite(Localization::text("EXITE")), txtMsgQuite(Localization::text("QUEST_EXITE")),
      exitProcess([](int status) { exitProcessNow(status); }),
      content_(new LaunchInstallViewController(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content_);
    setFixedSize(windowSize);
    windowDidLoad();
}

void LaunchInstallWindowController::windowDidLoad() {
    setWindowTitle(titleController);
}

bool LaunchInstallWindowController::windowShouldClose() {
    if (!quitAlert_.isNull()) {
        quitAlert_->raise();
        quitAlert_->activateWindow();
        return false;
    }
    quitAlert_ = AlertManager::shared().showDefaultAlert(
        this, txtTitleQuite, txtMsgQuite, AlertManager::AlertStyle::informational,
        QStringLiteral("OK"), true, QString(), [this](bool confirmed) {
            if (confirmed) {
                exitProcess(0);
            }
        });
    return false;
}

void LaunchInstallWindowController::closeEvent(QCloseEvent* event) {
    if (windowShouldClose()) {
        QWidget::closeEvent(event);
    } else {
        event->ignore();
    }
}

} // namespace orvo
