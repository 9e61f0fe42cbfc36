#pragma once

#include <QString>
#include <QWidget>

class QCloseEvent;

namespace orvo {

class AboutViewController;

// The about window. Made once per process and shown again on every request. Main thread.
class AboutWindowController : public QWidget {
    Q_OBJECT
public:
    explicit AboutWindowController(QWidget* parent = nullptr);

    const QString titleController;

    AboutViewController* contentViewController() const { return content_; }

    // Shows the window, or brings it to the front when it is shown already.
    void showWindow();
    void windowDidLoad();
    bool windowShouldClose() const { return true; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    AboutViewController* content_ = nullptr;
};

} // namespace orvo
