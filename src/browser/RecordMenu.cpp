#include "browser/RecordMenu.h"

#include <QAction>

#include "control/RecordingController.h"
#include "shell/Localization.h"

namespace orvo {

RecordMenu::RecordMenu(RecordingController& controller, QWidget* parent)
    : QMenu(Localization::text("RECORD_MENU"), parent), controller_(controller) {
    connect(&controller_, &RecordingController::targetsChanged, this, &RecordMenu::rebuild);
    connect(&controller_, &RecordingController::stateChanged, this, &RecordMenu::refresh);
    rebuild();
}

void RecordMenu::rebuild() {
    clear();
    for (int index = 0; index < int(controller_.targets().size()); ++index) {
        QAction* action = addAction(QString());
        connect(action, &QAction::triggered, this,
                [this, index] { controller_.toggleTarget(index); });
    }
    refresh();
}

void RecordMenu::refresh() {
    const QList<QAction*> items = actions();
    for (int index = 0; index < items.size(); ++index) {
        items[index]->setText(controller_.titleForTarget(index));
        items[index]->setEnabled(controller_.isTargetEnabled(index));
    }
}

} // namespace orvo
