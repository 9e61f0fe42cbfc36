#include "ui/AlertManager.h"

#include <memory>
#include <utility>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

#include "shell/Localization.h"

namespace orvo {
namespace {

constexpr QSize renameFieldSize(300, 20);
constexpr QSize noteViewSize(300, 300);
constexpr QRect progressFrame(0, 0, 350, 24);
constexpr QSize progressContainerSize(400, 24);
constexpr int progressMaximum = 100;

// An alert that deletes itself once answered; a sheet of window when one is given.
AlertDialog* newAlert(QWidget* window, const QString& title, AlertDialog::Style style) {
    auto* alert = new AlertDialog(window);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setAlertStyle(style);
    alert->setMessageText(title);
    return alert;
}

void present(AlertDialog* alert) {
    if (alert->parentWidget() != nullptr) {
        alert->setWindowModality(Qt::WindowModal);
        alert->open();
    } else {
        alert->setWindowModality(Qt::ApplicationModal);
        alert->show();
    }
}

bool confirmed(int response) {
    return response == AlertDialog::firstButtonReturn;
}

} // namespace

AlertManager& AlertManager::shared() {
    static AlertManager manager;
    return manager;
}

AlertManager::AlertManager() : txtCancel(Localization::text(QStringLiteral("CANCEL"))) {}

QPointer<AlertDialog> AlertManager::showDefaultAlert(QWidget* window, const QString& title,
                                                     const QString& message, AlertStyle style,
                                                     const QString& nameOKBtn, bool isCancelButton,
                                                     const QString& nameCancelBtn,
                                                     Completion completedAlert) {
    // A hidden window (a closed records window) cannot carry a sheet.
    QWidget* sheetWindow = window != nullptr && window->isVisible() ? window : nullptr;
    AlertDialog* alert = newAlert(sheetWindow, title, style);
    alert->setInformativeText(message);
    alert->addButton(nameOKBtn);
    if (isCancelButton) {
        alert->setCancelButton(
            alert->addButton(nameCancelBtn.isEmpty() ? txtCancel : nameCancelBtn));
    }
    connect(alert, &QDialog::finished, alert, [completion = std::move(completedAlert)](int result) {
        if (completion) {
            completion(confirmed(result));
        }
    });
    present(alert);
    return alert;
}

void AlertManager::showAlerForDelete(QWidget* window, const QString& title, const QString& message,
                                     const QString& /*name*/, Completion completedDelete) {
    if (window == nullptr) {
        completedDelete(false);
        return;
    }
    AlertDialog* alert = newAlert(window, title, AlertStyle::informational);
    alert->setInformativeText(message);
    alert->addButton(QStringLiteral("OK"));
    alert->setCancelButton(alert->addButton(txtCancel));
    connect(
        alert, &QDialog::finished, alert,
        [completion = std::move(completedDelete)](int result) { completion(confirmed(result)); });
    present(alert);
}

void AlertManager::showAlertForRename(QWidget* window, const QString& title, const QString& name,
                                      TextCompletion completedRename) {
    auto field = std::make_unique<QLineEdit>(name);
    field->setFixedWidth(renameFieldSize.width());
    field->setMinimumHeight(renameFieldSize.height());
    QLineEdit* text = field.get();
    askForText(
        window, title, std::move(field), [text] { return text->text(); },
        std::move(completedRename));
}

void AlertManager::showAlertForNote(QWidget* window, const QString& title, const QString& note,
                                    TextCompletion completedNote) {
    auto editor = std::make_unique<QPlainTextEdit>(note);
    editor->setFixedSize(noteViewSize);
    QPlainTextEdit* text = editor.get();
    askForText(
        window, title, std::move(editor), [text] { return text->toPlainText(); },
        std::move(completedNote));
}

void AlertManager::askForText(QWidget* window, const QString& title,
                              std::unique_ptr<QWidget> editor, std::function<QString()> editedText,
                              TextCompletion completion) {
    // Answered like a cancel, so that a caller waiting for the answer is never left waiting.
    if (window == nullptr) {
        completion(false, std::nullopt);
        return;
    }
    AlertDialog* alert = newAlert(window, title, AlertStyle::informational);
    alert->addButton(QStringLiteral("OK"));
    alert->setCancelButton(alert->addButton(txtCancel));
    QWidget* view = editor.release(); // the alert owns it from here
    // The field has no label of its own: a screen reader would read it as just "text".
    if (view->accessibleName().isEmpty()) {
        view->setAccessibleName(title);
    }
    alert->setAccessoryView(view);
    view->setFocus();
    connect(alert, &QDialog::finished, alert,
            [editedText = std::move(editedText), completion = std::move(completion)](int result) {
                if (confirmed(result)) {
                    completion(true, editedText());
                } else {
                    completion(false, std::nullopt);
                }
            });
    present(alert);
}

void AlertManager::showLoadingAlert(QWidget* window, const QString& title,
                                    std::function<void()> cancelLoading) {
    if (window == nullptr) {
        return;
    }
    // A sheet still shown ends before it is replaced, so its task hears of it too.
    if (loadingAlert != nullptr) {
        loadingAlert->stop();
        loadingAlert->deleteLater();
    }

    auto* alert = new AlertDialog(window);
    alert->setAlertStyle(AlertStyle::informational);
    alert->setMessageText(title);
    alert->setCancelButton(alert->addButton(txtCancel));
    auto* container = new QWidget;
    container->setFixedSize(progressContainerSize);
    container->setFocusPolicy(Qt::StrongFocus);
    auto* bar = new QProgressBar(container);
    bar->setOrientation(Qt::Horizontal);
    bar->setGeometry(progressFrame);
    bar->setRange(0, progressMaximum);
    bar->setValue(0);
    alert->setAccessoryView(container);
    container->setFocus();
    loadingAlert = alert;
    progressIndicator = bar;

    connect(alert, &QDialog::finished, alert, [handler = std::move(cancelLoading)]() mutable {
        if (handler) {
            std::exchange(handler, nullptr)();
        }
    });
    present(alert);
}

void AlertManager::loadingAlertComplited(QWidget* window) {
    if (progressIndicator != nullptr) {
        progressIndicator->setValue(progressMaximum);
    }
    if (loadingAlert != nullptr && window != nullptr && loadingAlert->parentWidget() == window) {
        loadingAlert->stop();
    }
}

} // namespace orvo
