#pragma once

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStringList>

#include "ui/AlertDialog.h"

namespace orvo::test {

// The alert the user has to answer now, if any.
inline AlertDialog* modalAlert() {
    return qobject_cast<AlertDialog*>(QApplication::activeModalWidget());
}

inline void closeModalAlerts() {
    while (AlertDialog* open = modalAlert()) {
        delete open;
    }
}

inline QStringList buttonTitles(const AlertDialog* alert) {
    QStringList result;
    for (const QPushButton* button : alert->buttons()) {
        result << button->text();
    }
    return result;
}

// The entry of a menu with exactly that text; nullptr when there is none.
inline QAction* actionTitled(const QMenu& menu, const QString& title) {
    for (QAction* action : menu.actions()) {
        if (action->text() == title) {
            return action;
        }
    }
    return nullptr;
}

// The menu of a menu bar with exactly that title; nullptr when there is none.
inline QMenu* menuTitled(const QMenuBar& bar, const QString& title) {
    for (QAction* action : bar.actions()) {
        if (action->text() == title && action->menu() != nullptr) {
            return action->menu();
        }
    }
    return nullptr;
}

} // namespace orvo::test
