#pragma once

#include <functional>
#include <optional>

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QWidget>

namespace orvo {

// The content of the driver installation window: what the program needs, and the button that
// installs the virtual audio driver with administrator rights. Success is judged only by the
// driver's folder existing afterwards; then the program restarts. Main thread only.
class LaunchInstallViewController : public QWidget {
    Q_OBJECT
public:
    // Runs a driver script by name with administrator rights; absent on success, else the
    // error text. Blocks.
    using ScriptRunner = std::function<std::optional<QString>(const QString& name)>;

    explicit LaunchInstallViewController(QWidget* parent = nullptr);

    const QString txtInstall;
    const QString txtError;
    const QString txtErrorInstall;
    const QString txtWarning;
    const QString txtCloseAllSound;
    const QString txtInstallCompleted;
    const QString txtInstallCompletedInfo;
    const QString txtInstallInfo;

    QPointer<QPushButton> btnInstall;
    QPointer<QLabel> lblInfo;

    // Replaceable for tests; default DriverScriptRunner::run.
    ScriptRunner runScript;
    // Called when the success alert is dismissed; replaceable for tests; default
    // API::restartApplication.
    std::function<void()> restartApplication;

    // True while an installation runs: the view is covered by the busy overlay and the
    // button is disabled.
    bool isInstall() const { return isInstall_; }
    void setIsInstall(bool installing);

    void viewDidLoad();
    // Asks to close the sound applications, then installs.
    void actionInstall();

private:
    void buildView();
    void setupView();
    void installComponents();
    void showInstallFailure(const std::optional<QString>& error);

    bool isInstall_ = false;
};

} // namespace orvo
