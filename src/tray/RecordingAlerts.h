#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "control/RecordingFailure.h"

namespace orvo {

class RecordingController;

// Tells the user what the recording control reports: its failures as alerts, and the wait
// while a recording is saved. Sheets on the alert window while it is shown, else alerts of the
// application. Main thread only.
class RecordingAlerts : public QObject {
    Q_OBJECT
public:
    // controller must outlive this object.
    explicit RecordingAlerts(RecordingController& controller, QObject* parent = nullptr);

    // The records window, when there is one; nullptr makes every alert application-modal.
    void setAlertWindow(QWidget* window) { alertWindow_ = window; }
    QWidget* alertWindow() const { return alertWindow_; }

private:
    void show(const RecordingFailure& failure);
    void showSaving(bool saving);

    RecordingController& controller_;
    QPointer<QWidget> alertWindow_;
    // The window the saving sheet went on, to end it there.
    QPointer<QWidget> savingWindow_;
};

} // namespace orvo
