#include "preferences/PreferencesTabViewController.h"

#include "preferences/PreferencesGeneralViewController.h"
#include "preferences/PreferencesRecordViewController.h"
#include "shell/Localization.h"
#include "ui/ImageExtensions.h"

namespace orvo {
namespace {
constexpr int tabImagePixels = 24;
} // namespace

PreferencesTabViewController::PreferencesTabViewController(QWidget* parent)
    : QTabWidget(parent), titleItems{Localization::text("GENERAL"), Localization::text("RECORDS")},
      imagesItems{tintedImageNamed(QStringLiteral("General"), accentColor, tabImagePixels),
                  imageNamed(QStringLiteral("Audio"))} {
    general_ = new PreferencesGeneralViewController(this);
    record_ = new PreferencesRecordViewController(this);
    addTab(general_, QString());
    addTab(record_, QString());
    setIconSize(QSize(tabImagePixels, tabImagePixels));
    viewDidLoad();
}

void PreferencesTabViewController::viewDidLoad() {
    for (int i = 0; i < count(); ++i) {
        setTabIcon(i, imagesItems.value(i));
        setTabText(i, titleItems.value(i));
    }
}

} // namespace orvo
