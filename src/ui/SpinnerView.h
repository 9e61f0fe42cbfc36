#pragma once

#include <QTimer>
#include <QWidget>

namespace orvo {

// An indeterminate progress indicator of the spinning kind. Main thread.
class SpinnerView : public QWidget {
    Q_OBJECT
public:
    explicit SpinnerView(QWidget* parent = nullptr);

    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return timer_.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer timer_;
    int angleDegrees_ = 0;
};

} // namespace orvo
