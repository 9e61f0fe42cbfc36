#pragma once

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QToolBar>

namespace orvo {

class CallDetection;

// The records window's offer to record a call that was just detected: what was detected, a
// Record button and a way to decline. Shown only while an offer stands. Main thread only.
class CallOfferBar : public QToolBar {
    Q_OBJECT
public:
    CallOfferBar(CallDetection& detection, QWidget* parent = nullptr);

    QLabel* message() const { return message_; }
    QPushButton* recordButton() const { return record_; }
    QPushButton* dismissButton() const { return dismiss_; }

private:
    void showOffer();

    QPointer<CallDetection> detection_;
    QPointer<QLabel> message_;
    QPointer<QPushButton> record_;
    QPointer<QPushButton> dismiss_;
};

} // namespace orvo
