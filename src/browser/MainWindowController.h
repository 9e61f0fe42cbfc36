#pragma once

#include <functional>

#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QToolBar>

#include "browser/CallOfferBar.h"

class QMenu;

namespace orvo {

class CallDetection;
class ImportFlow;
class MainViewController;
class RecordingController;

// The records window: the records table with its search and players, the application menu,
// the File menu (import) and the Record menu in its menu bar, and a status line while a call
// is recorded; sound and video files dropped on it are imported. Closing
// it hides it while the tray offers a way back; without a tray it asks whether to quit.
// Main thread only.
class MainWindowController : public QMainWindow {
    Q_OBJECT
public:
    // applicationMenu: shown first in the menu bar, owned by the caller; recording: the
    // control the Record menu and the status line present, or none.
    MainWindowController(QMenu* applicationMenu, RecordingController* recording,
                         QWidget* parent = nullptr);
    ~MainWindowController() override;

    MainViewController* contentViewController() const;
    // Shows the offers to record the calls that detection notices, at the top of the window.
    void setCallDetection(CallDetection* detection);
    CallOfferBar* callOfferBar() const { return callOffer_; }
    QLabel* statusLine() const { return statusLine_; }
    // At the top while recording: the same time and size as the status line, where the eye is.
    QLabel* recordingBanner() const { return banner_; }
    // File ▸ Import and the files dropped on the window.
    ImportFlow& importFlow() const;
    QAction* importAction() const { return importAction_; }

    // Whether the desktop shows tray icons; replaceable for tests.
    std::function<bool()> hasTrayHost;
    // Ends the program once the user agreed and any recording is final; replaceable for
    // tests.
    std::function<void()> quitProgram;

    void windowDidLoad();
    void windowWillClose();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void showRecordingStatus();
    void askToQuit();

    QPointer<MainViewController> content_;
    QPointer<RecordingController> recording_;
    QPointer<QLabel> statusLine_;
    QPointer<QToolBar> bannerBar_;
    QPointer<QLabel> banner_;
    QPointer<CallOfferBar> callOffer_;
    QPointer<ImportFlow> importFlow_;
    QPointer<QAction> importAction_;
    bool quitting_ = false;
};

} // namespace orvo
