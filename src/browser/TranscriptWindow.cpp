#include "browser/TranscriptWindow.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "shell/Localization.h"
#include "ui/Fonts.h"

namespace orvo {

TranscriptWindow::TranscriptWindow(const QString& title, const QString& text, QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setWindowTitle(title);
    setAttribute(Qt::WA_DeleteOnClose);
    findField = new QLineEdit(this);
    findField->setPlaceholderText(Localization::text("FIND"));
    findField->setAccessibleName(Localization::text("FIND"));
    findField->setClearButtonEnabled(true);
    lblNotFound = new QLabel(Localization::text("NOT_FOUND"), this);
    lblNotFound->setStyleSheet(QStringLiteral("color: #8a8a96;"));
    lblNotFound->hide();
    btnCopy = new QPushButton(Localization::text("COPY_ALL"), this);
    textView = new QPlainTextEdit(this);
    textView->setReadOnly(true);
    textView->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    textView->setFont(robotoFont(QStringLiteral("Roboto-Light"), 14));
    // A plain text view lays out only the lines it shows, whatever the length.
    textView->setPlainText(text);

    auto* bar = new QHBoxLayout;
    bar->addWidget(findField, 1);
    bar->addWidget(lblNotFound);
    bar->addWidget(btnCopy);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(textView, 1);
    connect(findField, &QLineEdit::returnPressed, this, &TranscriptWindow::findNext);
    connect(findField, &QLineEdit::textChanged, lblNotFound, &QWidget::hide);
    connect(btnCopy, &QPushButton::clicked, this, &TranscriptWindow::copyAll);
    resize(640, 560);
}

bool TranscriptWindow::findNext() {
    const QString needle = findField->text();
    if (needle.isEmpty()) {
        return false;
    }
    bool found = textView->find(needle);
    if (!found) {
        textView->moveCursor(QTextCursor::Start);
        found = textView->find(needle);
    }
    lblNotFound->setVisible(!found);
    return found;
}

void TranscriptWindow::copyAll() {
    QGuiApplication::clipboard()->setText(textView->toPlainText());
}

} // namespace orvo
