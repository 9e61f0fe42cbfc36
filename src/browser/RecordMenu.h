#pragma once

#include <QMenu>

namespace orvo {

class RecordingController;

// The records window's "Record" menu: one item per recording target of the controller, with
// the same titles and enabled states as the tray shows. Main thread only.
class RecordMenu : public QMenu {
    Q_OBJECT
public:
    // controller must outlive the menu.
    explicit RecordMenu(RecordingController& controller, QWidget* parent = nullptr);

private:
    void rebuild();
    void refresh();

    RecordingController& controller_;
};

} // namespace orvo
