#include "ui/AlertDialog.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

namespace orvo {
namespace {
constexpr int iconSize = 48;

// Grid rows; the icon spans all but the buttons.
constexpr int messageRow = 0;
constexpr int informativeRow = 1;
constexpr int accessoryRow = 2;
constexpr int buttonsRow = 3;

QStyle::StandardPixmap pixmapFor(AlertDialog::Style style) {
    switch (style) {
    case AlertDialog::Style::informational:
        return QStyle::SP_MessageBoxInformation;
    case AlertDialog::Style::critical:
        return QStyle::SP_MessageBoxCritical;
    case AlertDialog::Style::warning:
        break;
    }
    return QStyle::SP_MessageBoxWarning;
}
} // namespace

AlertDialog::AlertDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QApplication::applicationDisplayName());
    grid_ = new QGridLayout(this);
    grid_->setSizeConstraint(QLayout::SetFixedSize);
    icon_ = new QLabel(this);
    icon_->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    message_ = new QLabel(this);
    QFont bold = message_->font();
    bold.setBold(true);
    message_->setFont(bold);
    message_->setWordWrap(true);
    message_->setTextFormat(Qt::PlainText);
    informative_ = new QLabel(this);
    informative_->setWordWrap(true);
    informative_->setTextFormat(Qt::PlainText);
    informative_->hide();
    buttonRow_ = new QHBoxLayout;
    buttonRow_->addStretch();
    grid_->addWidget(icon_, messageRow, 0, accessoryRow + 1, 1);
    grid_->addWidget(message_, messageRow, 1);
    grid_->addWidget(informative_, informativeRow, 1);
    grid_->addLayout(buttonRow_, buttonsRow, 0, 1, 2);
    setAlertStyle(style_);
}

QString AlertDialog::messageText() const {
    return message_->text();
}

void AlertDialog::setMessageText(const QString& text) {
    message_->setText(text);
}

QString AlertDialog::informativeText() const {
    return informative_->text();
}

void AlertDialog::setInformativeText(const QString& text) {
    informative_->setText(text);
    informative_->setVisible(!text.isEmpty());
}

void AlertDialog::setAlertStyle(Style style) {
    style_ = style;
    icon_->setPixmap(this->style()->standardIcon(pixmapFor(style)).pixmap(iconSize, iconSize));
}

QPushButton* AlertDialog::addButton(const QString& title) {
    auto* button = new QPushButton(title, this);
    const int response = firstButtonReturn + static_cast<int>(buttons_.size());
    // One answer per showing, however often a button is pressed.
    connect(button, &QPushButton::clicked, this, [this, response] {
        if (isVisible()) {
            done(response);
        }
    });
    button->setAutoDefault(false);
    button->setDefault(buttons_.isEmpty());
    buttons_.append(button);
    buttonRow_->addWidget(button);
    return button;
}

void AlertDialog::setAccessoryView(QWidget* view) {
    delete accessoryView_;
    accessoryView_ = view;
    if (view != nullptr) {
        grid_->addWidget(view, accessoryRow, 1);
        view->show();
    }
}

void AlertDialog::stop() {
    if (isVisible()) {
        done(stopReturn);
    }
}

void AlertDialog::reject() {
    // Escape and the window's close button: an alert is only ever answered by a button.
    if (cancelButton_ != nullptr) {
        cancelButton_->click();
    } else if (buttons_.size() == 1) {
        buttons_.first()->click();
    }
}

} // namespace orvo
