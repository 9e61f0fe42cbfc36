#include "browser/CallOfferBar.h"

#include <QHBoxLayout>
#include <QWidget>

#include "control/CallDetection.h"
#include "shell/Localization.h"
#include "ui/Fonts.h"

namespace orvo {

CallOfferBar::CallOfferBar(CallDetection& detection, QWidget* parent)
    : QToolBar(parent), detection_(&detection) {
    setObjectName(QStringLiteral("callOffer"));
    setMovable(false);
    setFloatable(false);
    toggleViewAction()->setVisible(false);
    setStyleSheet(QStringLiteral("QToolBar#callOffer { background: #fff4d6; border: none;"
                                 " border-bottom: 1px solid #e8d9a8; padding: 4px 8px; }"));
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(8, 2, 8, 2);
    message_ = new QLabel(row);
    message_->setFont(robotoFont(QStringLiteral("Roboto-Regular"), 13));
    record_ = new QPushButton(Localization::text("CALL_DETECTED_RECORD"), row);
    record_->setDefault(true);
    dismiss_ = new QPushButton(Localization::text("CALL_DETECTED_DISMISS"), row);
    layout->addWidget(message_, 1);
    layout->addWidget(record_);
    layout->addWidget(dismiss_);
    addWidget(row);
    connect(record_, &QPushButton::clicked, this, [this] {
        if (detection_ != nullptr) {
            detection_->acceptOffer();
        }
    });
    connect(dismiss_, &QPushButton::clicked, this, [this] {
        if (detection_ != nullptr) {
            detection_->dismissOffer();
        }
    });
    connect(&detection, &CallDetection::offerChanged, this, &CallOfferBar::showOffer);
    showOffer();
}

void CallOfferBar::showOffer() {
    const auto offered = detection_ != nullptr ? detection_->offeredCall() : std::nullopt;
    if (offered) {
        message_->setText(
            Localization::format(Localization::text("CALL_DETECTED_MSG"), {*offered}));
    }
    setVisible(offered.has_value());
}

} // namespace orvo
