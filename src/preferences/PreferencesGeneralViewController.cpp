#include "preferences/PreferencesGeneralViewController.h"

#include <QVBoxLayout>

#include "platform/LoginItems.h"
#include "platform/Platform.h"
#include "shell/API.h"
#include "shell/Localization.h"
#include "shell/SettingsManager.h"

namespace orvo {
namespace {
const QString autoLaunchKey = QStringLiteral("AutoLaunch");
} // namespace

PreferencesGeneralViewController::PreferencesGeneralViewController(QWidget* parent)
    : QWidget(parent), txtAutoLaunch(Localization::text("PREF_AUTO_LAUNCH")) {
    btnAutoLaunch = new QCheckBox(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->addWidget(btnAutoLaunch);
    layout->addStretch();
    connect(btnAutoLaunch, &QCheckBox::clicked, this,
            &PreferencesGeneralViewController::actionAutoLaunch);
}

void PreferencesGeneralViewController::showEvent(QShowEvent* event) {
    if (!viewLoaded_) {
        viewLoaded_ = true;
        viewDidLoad();
    }
    QWidget::showEvent(event);
}

void PreferencesGeneralViewController::viewDidLoad() {
    btnAutoLaunch->setText(txtAutoLaunch);
    btnAutoLaunch->setChecked(SettingsManager::shared().getValue(autoLaunchKey) == "YES");
}

void PreferencesGeneralViewController::actionAutoLaunch() {
    const bool on = btnAutoLaunch->isChecked();
    if (!Platform::shared().get<LoginItems>().setLoginItemEnabled(API::budnleIDHelper(), on)) {
        return;
    }
    btnAutoLaunch->setChecked(on);
    SettingsManager::shared().writeValueSetting(on ? "YES" : "NO", autoLaunchKey);
}

} // namespace orvo
