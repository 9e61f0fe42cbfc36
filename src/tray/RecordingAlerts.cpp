#include "tray/RecordingAlerts.h"

#include "control/RecordingController.h"
#include "ui/AlertManager.h"

namespace orvo {
namespace {

AlertManager::AlertStyle styleOf(RecordingFailure::Severity severity) {
    switch (severity) {
    case RecordingFailure::Severity::informational:
        return AlertManager::AlertStyle::informational;
    case RecordingFailure::Severity::warning:
        return AlertManager::AlertStyle::warning;
    case RecordingFailure::Severity::critical:
        break;
    }
    return AlertManager::AlertStyle::critical;
}

} // namespace

RecordingAlerts::RecordingAlerts(RecordingController& controller, QObject* parent)
    : QObject(parent), controller_(controller) {
    connect(&controller_, &RecordingController::failed, this, &RecordingAlerts::show);
    connect(&controller_, &RecordingController::savingChanged, this, &RecordingAlerts::showSaving);
}

void RecordingAlerts::show(const RecordingFailure& failure) {
    AlertManager::shared().showDefaultAlert(alertWindow_, failure.title, failure.message,
                                            styleOf(failure.severity), QStringLiteral("OK"));
}

void RecordingAlerts::showSaving(bool saving) {
    if (saving) {
        if (alertWindow_ != nullptr && alertWindow_->isVisible()) {
            savingWindow_ = alertWindow_;
            AlertManager::shared().showLoadingAlert(savingWindow_, controller_.txtSaving, [] {});
        }
        return;
    }
    if (savingWindow_ != nullptr) {
        AlertManager::shared().loadingAlertComplited(std::exchange(savingWindow_, nullptr));
    }
}

} // namespace orvo
