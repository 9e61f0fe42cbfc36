#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

namespace orvo {

// A record's whole note and transcript in a window of its own: it scrolls, finds text (Return
// finds the next, from the top again after the last) and copies it all. Main thread only.
class TranscriptWindow : public QWidget {
    Q_OBJECT
public:
    TranscriptWindow(const QString& title, const QString& text, QWidget* parent = nullptr);

    QPointer<QLineEdit> findField;
    QPointer<QPlainTextEdit> textView;
    QPointer<QPushButton> btnCopy;
    QPointer<QLabel> lblNotFound;

    // Selects the next place of the find field's text; false when there is none.
    bool findNext();
    void copyAll();
};

} // namespace orvo
