#include "firstrun/LaunchInstallViewController.h"

#include <QFileInfo>
#include <QTimer>
#include <QVBoxLayout>

#include "audio/DriverScriptRunner.h"
#include "shell/API.h"
#include "shell/CopyFiles.h"
#include "shell/Localization.h"
#include "ui/AlertManager.h"
#include "ui/Fonts.h"
#include "ui/ViewExtensions.h"

namespace orvo {
namespace {

constexpr int titlePixelSize = 24;
constexpr int infoPixelSize = 14;
constexpr int buttonPixelSize = 15;
constexpr int margin = 36;
constexpr QSize buttonSize(200, 40);

const char* const buttonStyle = R"(
QPushButton { background: #6B59CC; color: white; border: none; border-radius: 8px; }
QPushButton:hover { background: #7A6AD6; }
QPushButton:pressed { background: #5A49B5; }
QPushButton:disabled { background: #B9B1E6; }
)";

QLabel* newCentredLabel(const QString& face, int pixelSize, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setFont(robotoFont(face, pixelSize));
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    return label;
}

} // namespace

LaunchInstallViewController::LaunchInstallViewController(QWidget* parent)
    : QWidget(parent), txtInstall(Localization::text("INSTALL")),
      txtError(Localization::text("ERROR")), txtErrorInstall(Localization::text("ERROR_INSTALL")),
      txtWarning(Localization::text("WARNING")),
      txtCloseAllSound(Localization::text("CLOSE_ALL_ACTIVE_SOUND")),
      txtInstallCompleted(Localization::text("SUCCESS")),
      txtInstallCompletedInfo(Localization::text("INSTALL_COMPLETED_MSG")),
      txtInstallInfo(Localization::text("INSTALL_COMPONENTS")), runScript(&DriverScriptRunner::run),
      restartApplication([] { API::restartApplication(); }) {
    buildView();
    viewDidLoad();
}

void LaunchInstallViewController::buildView() {
    auto* title = newCentredLabel(QStringLiteral("Roboto-Medium"), titlePixelSize, this);
    title->setText(API::prgName());
    lblInfo = newCentredLabel(QStringLiteral("Roboto-Regular"), infoPixelSize, this);
    lblInfo->setStyleSheet(QStringLiteral("color: #555555;"));
    btnInstall = new QPushButton(this);
    btnInstall->setFont(robotoFont(QStringLiteral("Roboto-Medium"), buttonPixelSize));
    btnInstall->setFixedSize(buttonSize);
    btnInstall->setStyleSheet(QString::fromLatin1(buttonStyle));
    btnInstall->setCursor(Qt::PointingHandCursor);
    btnInstall->setDefault(true);
    connect(btnInstall, &QPushButton::clicked, this, &LaunchInstallViewController::actionInstall);

    QPalette background = palette();
    background.setColor(QPalette::Window, Qt::white);
    setPalette(background);
    setAutoFillBackground(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->addStretch(1);
    layout->addWidget(title);
    layout->addSpacing(margin / 2);
    layout->addWidget(lblInfo);
    layout->addSpacing(margin);
    layout->addWidget(btnInstall, 0, Qt::AlignHCenter);
    layout->addStretch(1);
}

void LaunchInstallViewController::viewDidLoad() {
    setupView();
}

void LaunchInstallViewController::setupView() {
    if (btnInstall.isNull() || lblInfo.isNull()) {
        qFatal("The installation view has lost its button or its label");
    }
    btnInstall->setText(txtInstall);
    lblInfo->setText(txtInstallInfo);
}

void LaunchInstallViewController::setIsInstall(bool installing) {
    isInstall_ = installing;
    if (installing) {
        enableLoadingView(this);
    } else {
        disableLoadingView(this);
    }
    btnInstall->setEnabled(!installing);
}

void LaunchInstallViewController::actionInstall() {
    AlertManager::shared().showDefaultAlert(
        window(), txtWarning, txtCloseAllSound, AlertManager::AlertStyle::informational, txtInstall,
        true, QString(), [self = QPointer(this)](bool confirmed) {
            if (!confirmed || self.isNull()) {
                return;
            }
            self->setIsInstall(true);
            // The overlay is drawn before the script blocks the main thread.
            QTimer::singleShot(0, self, [self] { self->installComponents(); });
        });
}

void LaunchInstallViewController::installComponents() {
    CopyFiles::checkFilesAndCopy();
    const std::optional<QString> error = runScript(QStringLiteral("install_driver"));
    // The script may report trouble and still have installed the driver, or the reverse.
    if (!QFileInfo::exists(API::pathDriver())) {
        showInstallFailure(error);
        return;
    }
    AlertManager::shared().showDefaultAlert(window(), txtInstallCompleted, txtInstallCompletedInfo,
                                            AlertManager::AlertStyle::informational,
                                            QStringLiteral("OK"), false, QString(),
                                            [self = QPointer(this)](bool) {
                                                if (!self.isNull()) {
                                                    self->restartApplication();
                                                }
                                            });
}

void LaunchInstallViewController::showInstallFailure(const std::optional<QString>& error) {
    const QString reason = error.value_or(
        Localization::format(Localization::text("DRIVER_NOTHING_INSTALLED"), {API::pathDriver()}));
    AlertManager::shared().showDefaultAlert(window(), txtError,
                                            Localization::format(txtErrorInstall, {reason}),
                                            AlertManager::AlertStyle::critical);
    setIsInstall(false);
}

} // namespace orvo
