#include "support/AboutViewController.h"

#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/Platform.h"
#include "platform/Workspace.h"
#include "shell/API.h"
#include "shell/Localization.h"
#include "support/BugReportArchive.h"
#include "ui/AlertManager.h"
#include "ui/Fonts.h"
#include "ui/ImageExtensions.h"

namespace orvo {
namespace {

constexpr int iconPixels = 96;
constexpr int namePixelSize = 22;
constexpr int versionPixelSize = 13;
constexpr int buttonPixelSize = 14;
constexpr int margin = 32;
constexpr int buttonHeight = 36;
constexpr int buttonMinimumWidth = 180;

const char* const primaryStyle = R"(
QPushButton { background: #6B59CC; color: white; border: none; border-radius: 8px;
              padding: 0 18px; }
QPushButton:hover { background: #7A6AD6; }
QPushButton:pressed { background: #5A49B5; }
)";
const char* const secondaryStyle = R"(
QPushButton { background: white; color: #6B59CC; border: 1px solid #6B59CC;
              border-radius: 8px; padding: 0 18px; }
QPushButton:hover { background: #F2F0FB; }
QPushButton:pressed { background: #E4E0F7; }
)";

QPushButton* newButton(const char* style, QWidget* parent) {
    auto* button = new QPushButton(parent);
    button->setFont(robotoFont(QStringLiteral("Roboto-Medium"), buttonPixelSize));
    button->setStyleSheet(QString::fromLatin1(style));
    button->setFixedHeight(buttonHeight);
    button->setMinimumWidth(buttonMinimumWidth);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

QLabel* newLabel(const QString& face, int pixelSize, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setFont(robotoFont(face, pixelSize));
    label->setAlignment(Qt::AlignCenter);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

const QString& AboutViewController::supportAddress() {
    static const QString address = QStringLiteral(ORVO_SUPPORT_EMAIL);
    return address;
}

AboutViewController::AboutViewController(QWidget* parent)
    : QWidget(parent), txtSupport(Localization::text("SUPPORT_CALLBACK")),
      txtVersion(Localization::text("VERSION")), txtSuccess(Localization::text("SUCCESS")),
      txtBugReport(Localization::text("BUG_REPORT")),
      txtBugReportCreated(Localization::text("BUG_REPORT_CREATED")),
      txtAttention(Localization::text("ATTENTION")),
      txtSupportBugReport(Localization::text("BUG_REPORT_SUP")) {
    buildView();
    viewDidLoad();
}

void AboutViewController::buildView() {
    auto* icon = new QLabel(this);
    icon->setPixmap(imageNamed(QStringLiteral("orvo-call-recorder")).pixmap(iconPixels));
    icon->setAlignment(Qt::AlignCenter);
    lblName = newLabel(QStringLiteral("Roboto-Medium"), namePixelSize, this);
    lblVersion = newLabel(QStringLiteral("Roboto-Regular"), versionPixelSize, this);
    lblVersion->setStyleSheet(QStringLiteral("color: #777777;"));
    btnBugReport = newButton(secondaryStyle, this);
    btnSupport = newButton(primaryStyle, this);
    btnSupport->setDefault(true);
    connect(btnBugReport, &QPushButton::clicked, this, &AboutViewController::actionBugReport);
    connect(btnSupport, &QPushButton::clicked, this, &AboutViewController::actionSupport);

    QPalette background = palette();
    background.setColor(QPalette::Window, Qt::white);
    setPalette(background);
    setAutoFillBackground(true);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(margin / 2);
    buttons->addStretch(1);
    buttons->addWidget(btnBugReport);
    buttons->addWidget(btnSupport);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->addWidget(icon);
    layout->addSpacing(margin / 2);
    layout->addWidget(lblName);
    layout->addWidget(lblVersion);
    layout->addSpacing(margin);
    layout->addLayout(buttons);
}

void AboutViewController::viewDidLoad() {
    setupView();
}

void AboutViewController::setupView() {
    lblName->setText(API::prgName());
    lblVersion->setText(Localization::format(txtVersion, {API::prgVersion()}));
    btnSupport->setText(txtSupport);
    btnBugReport->setText(txtBugReport);
}

QString AboutViewController::archivePath() const {
    return API::tempPath() + "/" + txtBugReport + ".zip";
}

void AboutViewController::actionBugReport() {
    const QDir folder(API::techLogPath());
    if (!folder.exists() || !folder.isReadable()) {
        return;
    }
    QStringList files;
    for (const QString& name : folder.entryList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        if (name.contains(QStringLiteral(".txt"))) {
            files << API::techLogPath() + "/" + name;
        }
    }
    const QString path = archivePath();
    if (!BugReportArchive::create(path, files)) {
        // An archive of an earlier report would be sent in its place: it goes.
        QFile::remove(path);
        AlertManager::shared().showDefaultAlert(
            window(), Localization::text("ERROR"),
            Localization::format(Localization::text("BUG_REPORT_FAILED"), {path}),
            AlertManager::AlertStyle::critical);
        return;
    }
    if (auto* workspace = Platform::shared().find<Workspace>()) {
        workspace->revealFile(path);
    }
    AlertManager::shared().showDefaultAlert(window(), txtSuccess,
                                            Localization::format(txtBugReportCreated, {path}));
}

void AboutViewController::actionSupport() {
    AlertManager::shared().showDefaultAlert(
        window(), txtAttention, txtSupportBugReport, AlertManager::AlertStyle::informational,
        QStringLiteral("OK"), false, QString(), [self = QPointer(this)](bool) {
            QTimer::singleShot(0, self, [self] { self->composeSupportMail(); });
        });
}

void AboutViewController::composeSupportMail() {
    if (auto* workspace = Platform::shared().find<Workspace>()) {
        workspace->composeMailTo({supportAddress()}, API::prgName() + supportSubjectSuffix,
                                 QStringLiteral("\n"));
    }
}

} // namespace orvo
