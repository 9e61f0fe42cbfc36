#include "support/AboutWindowController.h"

#include <QCloseEvent>
#include <QVBoxLayout>

#include "shell/Localization.h"
#include "support/AboutViewController.h"

namespace orvo {

AboutWindowController::AboutWindowController(QWidget* parent)
    : QWidget(parent, Qt::Window), titleController(Localization::text("ABOUT_TITLE")) {
    setObjectName(QStringLiteral("aboutID"));
    content_ = new AboutViewController(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content_);
    setFixedSize(sizeHint());
    windowDidLoad();
}

void AboutWindowController::windowDidLoad() {
    setWindowTitle(titleController);
}

void AboutWindowController::showWindow() {
    show();
    raise();
    activateWindow();
}

void AboutWindowController::closeEvent(QCloseEvent* event) {
    if (windowShouldClose()) {
        event->accept();
    } else {
        event->ignore();
    }
}

} // namespace orvo
