#include "browser/PopoverMenuViewController.h"

#include <QAccessibleWidget>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QVBoxLayout>

#include "shell/Console.h"
#include "shell/Localization.h"
#include "ui/ViewExtensions.h"

namespace orvo {
namespace {
constexpr int radius = 8;
constexpr int padding = 8;

// Screen readers announce a menu, where a plain widget is an unnamed filler.
QAccessibleInterface* accessiblePopover(const QString& className, QObject* object) {
    if (object != nullptr && object->isWidgetType() &&
        className == QLatin1String(PopoverMenuViewController::staticMetaObject.className())) {
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::PopupMenu);
    }
    return nullptr;
}
} // namespace

PopoverMenuViewController::PopoverMenuViewController(QWidget* parent)
    : QWidget(parent, Qt::Popup | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint),
      txtOpenFinder(Localization::text("SHOW_FINDER")), txtRename(Localization::text("RENAME")),
      txtDelete(Localization::text("DELETE")), txtShared(Localization::text("SHARED")),
      txtNote(Localization::text("NOTE")), txtRecognize(Localization::text("RECOGNIZER")),
      txtSaveTranscript(Localization::text("SAVE_TRANSCRIPT")),
      txtCopyTranscript(Localization::text("COPY_TRANSCRIPT")) {
    [[maybe_unused]] static const bool accessible = [] {
        QAccessible::installFactory(accessiblePopover);
        return true;
    }();
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_DeleteOnClose);
    // The click that closes the menu is not passed on: on the menu button it must not open
    // the menu again.
    setAttribute(Qt::WA_NoMouseReplay);
    setupView();
}

PopoverMenuViewController::~PopoverMenuViewController() {
    consoleLine("Deinit popover menu");
}

void PopoverMenuViewController::setupView() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(padding, padding, padding, padding);
    layout->setSpacing(0);
    const auto entry = [this, layout](QPointer<QPushButton>& button,
                                      void (PopoverMenuViewController::*action)()) {
        button = new QPushButton(this);
        button->setCursor(Qt::PointingHandCursor);
        button->setMinimumHeight(28);
        connect(button, &QPushButton::clicked, this, action);
        layout->addWidget(button);
    };
    entry(btnOpenFinder, &PopoverMenuViewController::actionOpenFinder);
    entry(btnRename, &PopoverMenuViewController::actionRename);
    entry(btnShared, &PopoverMenuViewController::actionShared);
    entry(btnNote, &PopoverMenuViewController::actionNote);
    entry(btnRecognize, &PopoverMenuViewController::actionRecognize);
    entry(btnSaveTranscript, &PopoverMenuViewController::actionSaveTranscript);
    entry(btnCopyTranscript, &PopoverMenuViewController::actionCopyTranscript);
    entry(btnDelete, &PopoverMenuViewController::actionDelete);

    setupForMenu(btnNote, txtNote);
    setupForMenu(btnDelete, txtDelete);
    setupForMenu(btnShared, txtShared);
    setupForMenu(btnRename, txtRename);
    setupForMenu(btnOpenFinder, txtOpenFinder);
    setupForMenu(btnRecognize, txtRecognize);
    setupForMenu(btnSaveTranscript, txtSaveTranscript);
    setupForMenu(btnCopyTranscript, txtCopyTranscript);
    for (QPushButton* button : {btnOpenFinder, btnRename, btnShared, btnNote, btnRecognize,
                                btnSaveTranscript, btnCopyTranscript, btnDelete}) {
        button->setStyleSheet(QStringLiteral(
            "QPushButton { background: transparent; border: none; border-radius: 4px;"
            " text-align: left; padding: 4px 14px; color: #2a2a30; }"
            "QPushButton:hover, QPushButton:focus { background: #6b59cc; color: white; }"));
    }
    adjustSize();
}

void PopoverMenuViewController::showTranscriptEntries(bool shown) {
    btnSaveTranscript->setVisible(shown);
    btnCopyTranscript->setVisible(shown);
    adjustSize();
}

void PopoverMenuViewController::select(PopoverMenu entry) {
    if (completedSelectMenu) {
        completedSelectMenu(entry);
    }
}

void PopoverMenuViewController::showRelativeTo(const QRect& anchor) {
    adjustSize();
    QPoint place(anchor.left() - width() - 4, anchor.center().y() - height() / 2);
    if (const QScreen* screen = QGuiApplication::screenAt(anchor.center())) {
        const QRect room = screen->availableGeometry();
        if (place.x() < room.left()) {
            place.setX(anchor.right() + 4);
        }
        place.setY(qBound(room.top(), place.y(), room.bottom() - height()));
    }
    move(place);
    show();
    // From the keyboard: the arrows move through the entries, Return or Space picks one.
    btnOpenFinder->setFocus(Qt::PopupFocusReason);
}

void PopoverMenuViewController::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Down || event->key() == Qt::Key_Up) {
        focusNextPrevChild(event->key() == Qt::Key_Down);
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        qobject_cast<QPushButton*>(focusWidget()) != nullptr) {
        static_cast<QPushButton*>(focusWidget())->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PopoverMenuViewController::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    painter.fillPath(shape, QColor(252, 252, 253));
    painter.setPen(QColor(0, 0, 0, 40));
    painter.drawPath(shape);
}

} // namespace orvo
