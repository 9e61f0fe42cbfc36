#pragma once

#include <QDialog>
#include <QList>
#include <QPointer>
#include <QPushButton>
#include <QString>

class QGridLayout;
class QHBoxLayout;
class QLabel;

namespace orvo {

// A platform-style alert: an icon for its style, a message text, an informative text, an
// optional accessory view and buttons in the order they were added. Answering closes it with
// the answering button's response, which arrives as the result of finished(). Main thread.
class AlertDialog : public QDialog {
    Q_OBJECT
public:
    enum class Style { warning, informational, critical };

    // The response of the first button; the n-th button answers firstButtonReturn + n - 1.
    static constexpr int firstButtonReturn = 1000;
    // The response when the alert is ended without a button (see stop()).
    static constexpr int stopReturn = -1000;

    explicit AlertDialog(QWidget* parent = nullptr);

    QString messageText() const;
    void setMessageText(const QString& text);
    QString informativeText() const;
    void setInformativeText(const QString& text);
    Style alertStyle() const { return style_; }
    void setAlertStyle(Style style);

    // The first button added is the default button (Return).
    QPushButton* addButton(const QString& title);
    const QList<QPushButton*>& buttons() const { return buttons_; }
    // The button that Escape and closing the window press. Without one, they press the only
    // button of a one-button alert and are ignored otherwise.
    void setCancelButton(QPushButton* button) { cancelButton_ = button; }

    // Takes ownership of view and places it below the texts, replacing any former one.
    void setAccessoryView(QWidget* view);
    QWidget* accessoryView() const { return accessoryView_; }

    // Ends the alert without a button, answering stopReturn; nothing when it is not shown.
    void stop();

public slots:
    void reject() override;

private:
    QGridLayout* grid_ = nullptr;
    QLabel* icon_ = nullptr;
    QLabel* message_ = nullptr;
    QLabel* informative_ = nullptr;
    QHBoxLayout* buttonRow_ = nullptr;
    QPointer<QWidget> accessoryView_;
    QList<QPushButton*> buttons_;
    QPointer<QPushButton> cancelButton_;
    Style style_ = Style::warning;
};

} // namespace orvo
