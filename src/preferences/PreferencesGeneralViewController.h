#pragma once

#include <QCheckBox>
#include <QPointer>
#include <QString>
#include <QWidget>

namespace orvo {

// The general tab: whether the program starts at login. Its view loads the first time it is
// shown. Main thread only.
class PreferencesGeneralViewController : public QWidget {
    Q_OBJECT
public:
    explicit PreferencesGeneralViewController(QWidget* parent = nullptr);

    const QString txtAutoLaunch;
    QPointer<QCheckBox> btnAutoLaunch;

    bool isViewLoaded() const { return viewLoaded_; }
    void viewDidLoad();
    // The user clicked the check box: switches the login item and stores what it became.
    void actionAutoLaunch();

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool viewLoaded_ = false;
};

} // namespace orvo
