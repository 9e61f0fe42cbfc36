#include "browser/VideoPlayerWindowController.h"

#include <QVBoxLayout>

namespace orvo {

VideoPlayerWindowController::VideoPlayerWindowController(QWidget* parent)
    : QWidget(parent, Qt::Window), content_(new VideoPlayerViewController(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content_);
    resize(800, 520);
    setMinimumSize(480, 320);
}

void VideoPlayerWindowController::windowWillClose() {
    content_->stop();
}

void VideoPlayerWindowController::closeEvent(QCloseEvent* event) {
    windowWillClose();
    QWidget::closeEvent(event);
}

} // namespace orvo
