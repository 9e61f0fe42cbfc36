#include "preferences/PreferencesWindowController.h"

#include <QVBoxLayout>

#include "preferences/PreferencesTabViewController.h"
#include "shell/Localization.h"

namespace orvo {

PreferencesWindowController::PreferencesWindowController(QWidget* parent)
    : QWidget(parent, Qt::Window), titleController(Localization::text("PREF")) {
    setObjectName(QStringLiteral("preferencesID"));
    content_ = new PreferencesTabViewController(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content_);
    setFixedSize(sizeHint().expandedTo(QSize(520, 300)));
    windowDidLoad();
}

void PreferencesWindowController::windowDidLoad() {
    setWindowTitle(titleController);
}

void PreferencesWindowController::showWindow() {
    show();
    raise();
    activateWindow();
}

} // namespace orvo
