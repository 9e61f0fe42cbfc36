#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QObject>
#include <QPointer>
#include <QProgressBar>
#include <QString>

#include "ui/AlertDialog.h"

class QWidget;

namespace orvo {

// Every modal dialog of the program. With a window, a dialog is a sheet: window-modal on
// that window; otherwise it is application-modal. Operations return at once and results
// arrive through the completion, when the dialog is answered; "confirmed" means the first
// button answered. Main thread only. A window argument of nullptr means no window.
class AlertManager : public QObject {
    Q_OBJECT
public:
    using AlertStyle = AlertDialog::Style;
    using Completion = std::function<void(bool confirmed)>;
    using TextCompletion = std::function<void(bool confirmed, std::optional<QString> text)>;

    static AlertManager& shared();

    const QString txtCancel;

    // The bar (0 to 100) of the current loading sheet, for the task that reports progress;
    // it and the sheet stay until the next showLoadingAlert replaces them.
    QPointer<QProgressBar> progressIndicator;
    QPointer<AlertDialog> loadingAlert;

    // A sheet when window is visible, else application-modal. An empty nameCancelBtn means
    // txtCancel. The alert deletes itself once answered.
    QPointer<AlertDialog>
    showDefaultAlert(QWidget* window, const QString& title, const QString& message,
                     AlertStyle style = AlertStyle::informational,
                     const QString& nameOKBtn = QStringLiteral("OK"), bool isCancelButton = false,
                     const QString& nameCancelBtn = QString(), Completion completedAlert = {});

    // Asks "OK" / txtCancel as a sheet on window; without a window, not confirmed at once.
    // name is accepted and not shown.
    void showAlerForDelete(QWidget* window, const QString& title, const QString& message,
                           const QString& name, Completion completedDelete);

    // A one-line field holding name; the field's text comes back only when confirmed.
    // Without a window, (false, none) at once.
    void showAlertForRename(QWidget* window, const QString& title, const QString& name,
                            TextCompletion completedRename);

    // A multi-line editor holding note; its text comes back only when confirmed.
    // Without a window, (false, none) at once.
    void showAlertForNote(QWidget* window, const QString& title, const QString& note,
                          TextCompletion completedNote);

    // A sheet with a progress bar and one txtCancel button; cancelLoading runs exactly once,
    // when the sheet ends whichever way (its button, or loadingAlertComplited). A loading
    // sheet still shown is ended first. Without a window nothing happens.
    void showLoadingAlert(QWidget* window, const QString& title,
                          std::function<void()> cancelLoading);

    // Fills the bar and ends the loading sheet when it is shown on window.
    void loadingAlertComplited(QWidget* window);

private:
    AlertManager();
    // OK / txtCancel around editor; the edited text comes back only when confirmed.
    void askForText(QWidget* window, const QString& title, std::unique_ptr<QWidget> editor,
                    std::function<QString()> editedText, TextCompletion completion);
};

} // namespace orvo
