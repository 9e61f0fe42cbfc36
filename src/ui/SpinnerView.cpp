#include "ui/SpinnerView.h"

#include <QPainter>

namespace orvo {
namespace {
constexpr int stepIntervalMs = 80;
constexpr int stepDegrees = 30;
constexpr int spokes = 12;
} // namespace

SpinnerView::SpinnerView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    timer_.setInterval(stepIntervalMs);
    connect(&timer_, &QTimer::timeout, this, [this] {
        angleDegrees_ = (angleDegrees_ + stepDegrees) % 360;
        update();
    });
}

void SpinnerView::startAnimation() {
    timer_.start();
}

void SpinnerView::stopAnimation() {
    timer_.stop();
}

void SpinnerView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal radius = qMin(width(), height()) / 2.0;
    painter.translate(width() / 2.0, height() / 2.0);
    painter.rotate(angleDegrees_);
    QPen pen(palette().color(QPalette::WindowText));
    pen.setWidthF(qMax(1.5, radius / 6));
    pen.setCapStyle(Qt::RoundCap);
    for (int i = 0; i < spokes; ++i) {
        QColor color = pen.color();
        color.setAlphaF(float(i + 1) / spokes);
        pen.setColor(color);
        painter.setPen(pen);
        painter.drawLine(QPointF(0, -radius * 0.5), QPointF(0, -radius * 0.9));
        painter.rotate(360.0 / spokes);
    }
}

} // namespace orvo
