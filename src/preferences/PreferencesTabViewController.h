#pragma once

#include <QIcon>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTabWidget>

namespace orvo {

class PreferencesGeneralViewController;
class PreferencesRecordViewController;

// The two tabs of the preferences window: general first, records second. Main thread only.
class PreferencesTabViewController : public QTabWidget {
    Q_OBJECT
public:
    explicit PreferencesTabViewController(QWidget* parent = nullptr);

    const QStringList titleItems;
    const QList<QIcon> imagesItems;

    PreferencesGeneralViewController* generalViewController() const { return general_; }
    PreferencesRecordViewController* recordViewController() const { return record_; }

    void viewDidLoad();

private:
    PreferencesGeneralViewController* general_ = nullptr;
    PreferencesRecordViewController* record_ = nullptr;
};

} // namespace orvo
