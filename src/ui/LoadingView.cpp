#include "ui/LoadingView.h"

#include <QPainter>

namespace orvo {

LoadingView::LoadingView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_NoSystemBackground);
}

void LoadingView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(100, 109, 192, 128));
}

} // namespace orvo
