#pragma once

#include <functional>

#include <QPointer>
#include <QString>
#include <QWidget>

class QCloseEvent;

namespace orvo {

class AlertDialog;
class LaunchInstallViewController;

// The window shown at start while the virtual audio driver is missing. It stays until the
// installation restarts the program; its close button asks whether to quit instead of
// closing. Main thread only.
class LaunchInstallWindowController : public QWidget {
    Q_OBJECT
public:
    explicit LaunchInstallWindowController(QWidget* parent = nullptr);

    const QString titleController;
    const QString txtTitleQuite;
    const QString txtMsgQuite;

    // Ends the process when the user confirms quitting; replaceable for tests; default
    // exitProcessNow.
    std::function<void(int status)> exitProcess;

    LaunchInstallViewController* contentViewController() const { return content_; }

    void windowDidLoad();
    // Never lets the window close; asks whether to quit the program instead.
    bool windowShouldClose();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    LaunchInstallViewController* content_ = nullptr;
    // The open quit confirmation, so a second close brings it up instead of a second one.
    QPointer<AlertDialog> quitAlert_;
};

} // namespace orvo
