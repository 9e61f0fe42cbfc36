#pragma once

#include <QString>
#include <QWidget>

namespace orvo {

class PreferencesTabViewController;

// The preferences window: a general tab and a records tab. Made once per process and shown
// again on every request. Main thread only.
class PreferencesWindowController : public QWidget {
    Q_OBJECT
public:
    explicit PreferencesWindowController(QWidget* parent = nullptr);

    const QString titleController;

    PreferencesTabViewController* contentViewController() const { return content_; }

    // Shows the window, or brings it to the front when it is shown already.
    void showWindow();
    void windowDidLoad();

private:
    PreferencesTabViewController* content_ = nullptr;
};

} // namespace orvo
