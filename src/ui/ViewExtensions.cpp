#include "ui/ViewExtensions.h"

#include <QTextDocument>

#include "ui/LoadingView.h"

namespace orvo {
namespace {
constexpr int spinnerSize = 30;
constexpr int menuFontPointSize = 12;
} // namespace

SpinnerView* enableLoadingView(QWidget* view) {
    auto* overlay = new LoadingView(view);
    overlay->setGeometry(view->rect());
    auto* spinner = new SpinnerView(overlay);
    spinner->setGeometry((view->width() - spinnerSize) / 2, (view->height() - spinnerSize) / 2,
                         spinnerSize, spinnerSize);
    spinner->startAnimation();
    overlay->raise();
    overlay->show();
    return spinner;
}

void disableLoadingView(QWidget* view) {
    const auto overlays = view->findChildren<LoadingView*>(Qt::FindDirectChildrenOnly);
    if (!overlays.isEmpty()) {
        delete overlays.first();
    }
}

double getHeight(const QString& text, const QRectF& frame) {
    QTextDocument document;
    document.setPlainText(text);
    document.setTextWidth(frame.width());
    return document.size().height();
}

void setupForMenu(QAbstractButton* button, const QString& title) {
    QFont font(QStringLiteral("Roboto"));
    font.setPointSize(menuFontPointSize);
    button->setFont(font);
    button->setText(title);
    button->setAutoFillBackground(false);
    button->setStyleSheet(QStringLiteral("background: transparent; border: none;"));
}

} // namespace orvo
