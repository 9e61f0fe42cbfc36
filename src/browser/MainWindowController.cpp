#include "browser/MainWindowController.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QStatusBar>
#include <QSystemTrayIcon>

#include "browser/CallOfferBar.h"
#include "browser/ImportFlow.h"
#include "browser/MainViewController.h"
#include "browser/RecordTableViewController.h"
#include "browser/RecordMenu.h"
#include "control/RecordingController.h"
#include "shell/API.h"
#include "shell/Localization.h"
#include "shell/ProcessExit.h"
#include "ui/AlertManager.h"
#include "ui/Fonts.h"

namespace orvo {
namespace {
constexpr QSize defaultWindowSize(820, 640);
constexpr QSize minimumWindowSize(600, 420);
} // namespace

MainWindowController::MainWindowController(QMenu* applicationMenu, RecordingController* recording,
                                           QWidget* parent)
    : QMainWindow(parent), hasTrayHost([] { return QSystemTrayIcon::isSystemTrayAvailable(); }),
      quitProgram([] { exitProcessNow(0); }), recording_(recording) {
    content_ = new MainViewController(this);
    setCentralWidget(content_);
    if (applicationMenu != nullptr) {
        menuBar()->addMenu(applicationMenu);
    }
    importFlow_ = new ImportFlow(*this, [this]() -> RecordTableViewController* {
        return content_ != nullptr ? content_->recordsTableView.data() : nullptr;
    });
    QMenu* fileMenu = menuBar()->addMenu(Localization::text("MENU_FILE"));
    importAction_ = fileMenu->addAction(Localization::text("IMPORT_MENU"));
    importAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    connect(importAction_, &QAction::triggered, importFlow_, &ImportFlow::chooseFiles);
    setAcceptDrops(true);
    statusLine_ = new QLabel(this);
    statusLine_->setObjectName(QStringLiteral("recordingStatus"));
    statusLine_->setFont(robotoFont(QStringLiteral("Roboto-Regular"), 13));
    statusLine_->setStyleSheet(QStringLiteral("color: #c0392b; padding: 2px 12px;"));
    statusBar()->addWidget(statusLine_, 1);
    statusBar()->setSizeGripEnabled(false);
    bannerBar_ = new QToolBar(this);
    bannerBar_->setObjectName(QStringLiteral("recordingBannerBar"));
    bannerBar_->setMovable(false);
    bannerBar_->setFloatable(false);
    bannerBar_->setStyleSheet(
        QStringLiteral("QToolBar { background: #fdecea; border: none; border-bottom: 1px solid "
                       "#f3b8b1; padding: 2px 8px; }"));
    banner_ = new QLabel(bannerBar_);
    banner_->setObjectName(QStringLiteral("recordingBanner"));
    banner_->setFont(robotoFont(QStringLiteral("Roboto-Medium"), 14));
    banner_->setStyleSheet(QStringLiteral("color: #c0392b;"));
    bannerBar_->addWidget(banner_);
    addToolBar(Qt::TopToolBarArea, bannerBar_);
    if (recording_ != nullptr) {
        menuBar()->addMenu(new RecordMenu(*recording_, this));
        connect(recording_, &RecordingController::progressChanged, this,
                &MainWindowController::showRecordingStatus);
        connect(recording_, &RecordingController::stateChanged, this,
                &MainWindowController::showRecordingStatus);
    }
    showRecordingStatus();
    resize(defaultWindowSize);
    setMinimumSize(minimumWindowSize);
    windowDidLoad();
}

MainWindowController::~MainWindowController() = default;

ImportFlow& MainWindowController::importFlow() const {
    return *importFlow_;
}

void MainWindowController::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() &&
        !ImportFlow::localFiles(event->mimeData()->urls()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void MainWindowController::dropEvent(QDropEvent* event) {
    const QStringList paths = ImportFlow::localFiles(event->mimeData()->urls());
    if (!paths.isEmpty()) {
        event->acceptProposedAction();
        importFlow_->importFiles(paths);
    }
}

MainViewController* MainWindowController::contentViewController() const {
    return content_;
}

void MainWindowController::setCallDetection(CallDetection* detection) {
    delete callOffer_;
    if (detection != nullptr) {
        callOffer_ = new CallOfferBar(*detection, this);
        addToolBar(Qt::TopToolBarArea, callOffer_);
    }
}

void MainWindowController::windowDidLoad() {
    setWindowTitle(API::prgName());
}

void MainWindowController::windowWillClose() {
    // Without a Dock there is no activation policy to switch: the program stays in the tray.
}

void MainWindowController::showRecordingStatus() {
    QString text = recording_ != nullptr ? recording_->statusText() : QString();
    if (!text.isEmpty() && !recording_->warningText().isEmpty()) {
        text += QStringLiteral(" — ⚠ ") + recording_->warningText();
    }
    statusLine_->setText(text.isEmpty() ? QString() : QStringLiteral("● ") + text);
    statusBar()->setVisible(!text.isEmpty());
    banner_->setText(statusLine_->text());
    bannerBar_->setVisible(!text.isEmpty());
}

void MainWindowController::closeEvent(QCloseEvent* event) {
    if (quitting_ || hasTrayHost()) {
        windowWillClose();
        event->accept();
        return;
    }
    // Without a tray the window is the only way back to the program.
    event->ignore();
    askToQuit();
}

void MainWindowController::askToQuit() {
    QPointer<MainWindowController> self(this);
    AlertManager::shared().showDefaultAlert(
        this, Localization::text("EXITE"),
        Localization::format(Localization::text("QUEST_QUIT_NO_TRAY"), {API::prgName()}),
        AlertManager::AlertStyle::warning, Localization::text("EXITE"), true, QString(),
        [self](bool confirmed) {
            if (!confirmed || self == nullptr) {
                return;
            }
            self->quitting_ = true;
            const auto quit = [self] {
                if (self != nullptr && self->quitProgram) {
                    self->quitProgram();
                }
            };
            // A running recording is finished and kept before the program ends.
            if (self->recording_ != nullptr) {
                self->recording_->stopAndFinalise(quit, true);
            } else {
                quit();
            }
        });
}

} // namespace orvo
