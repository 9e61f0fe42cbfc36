#pragma once

#include <vector>

#include <QFileDialog>

#include "transcription/TranscriptExport.h"

namespace orvo {

// Where and in which form the user saves a record's transcript: a save dialog whose file
// types are the forms the record has (subtitles only when its transcription wrote them). The
// type chosen, or the extension typed, decides the form; a failed write is shown in an alert.
// Main thread only.
class TranscriptSaveDialog : public QFileDialog {
    Q_OBJECT
public:
    TranscriptSaveDialog(QWidget* parent, TranscriptExport transcript);

    // The form a file would be written in, chosen in the dialog as it stands.
    TranscriptFormat formatFor(const QString& path) const;
    // Puts the transcript on the clipboard as plain text.
    static void copyToClipboard(const TranscriptExport& transcript);

private:
    void save(const QString& path);

    TranscriptExport transcript_;
    std::vector<TranscriptFormat> formats_; // one a file type, in the dialog's order
    QStringList types_;
};

} // namespace orvo
