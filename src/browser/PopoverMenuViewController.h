#pragma once

#include <functional>

#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include "browser/PopoverMenu.h"

namespace orvo {

// The actions of one record, as a small menu that opens beside the row's menu button and
// closes when the user clicks elsewhere. It only reports which entry was pressed. Main
// thread only.
class PopoverMenuViewController : public QWidget {
    Q_OBJECT
public:
    explicit PopoverMenuViewController(QWidget* parent = nullptr);
    ~PopoverMenuViewController() override;

    QPointer<QPushButton> btnDelete;
    QPointer<QPushButton> btnNote;
    QPointer<QPushButton> btnShared;
    QPointer<QPushButton> btnRename;
    QPointer<QPushButton> btnOpenFinder;
    QPointer<QPushButton> btnRecognize;
    // Shown only for a record with a transcript.
    QPointer<QPushButton> btnSaveTranscript;
    QPointer<QPushButton> btnCopyTranscript;
    const QString txtOpenFinder;
    const QString txtRename;
    const QString txtDelete;
    const QString txtShared;
    const QString txtNote;
    const QString txtRecognize;
    const QString txtSaveTranscript;
    const QString txtCopyTranscript;
    std::function<void(PopoverMenu)> completedSelectMenu;

    void actionRename() { select(PopoverMenu::rename); }
    void actionShared() { select(PopoverMenu::shared); }
    void actionNote() { select(PopoverMenu::note); }
    void actionDelete() { select(PopoverMenu::deleteRecord); }
    void actionOpenFinder() { select(PopoverMenu::openFinder); }
    void actionRecognize() { select(PopoverMenu::recognizer); }
    void actionSaveTranscript() { select(PopoverMenu::saveTranscript); }
    void actionCopyTranscript() { select(PopoverMenu::copyTranscript); }

    // Before it is shown: whether the record has a transcript to save or copy.
    void showTranscriptEntries(bool shown);

    // Opens beside anchor (global coordinates), to its left when the screen has room.
    void showRelativeTo(const QRect& anchor);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void setupView();
    void select(PopoverMenu entry);
};

} // namespace orvo
