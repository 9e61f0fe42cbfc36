#include "browser/TranscriptSaveDialog.h"

#include <algorithm>

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStandardPaths>

#include "shell/Localization.h"
#include "ui/AlertManager.h"

namespace orvo {
namespace {

QString suffixOf(TranscriptFormat format) {
    switch (format) {
    case TranscriptFormat::markdown:
        return QStringLiteral("md");
    case TranscriptFormat::subtitles:
        return QStringLiteral("srt");
    case TranscriptFormat::plainText:
        break;
    }
    return QStringLiteral("txt");
}

// The record's name as a file name: no folder separators, never empty.
QString fileNameOf(const QString& title) {
    QString name = title.trimmed();
    name.replace('/', '-');
    return name.isEmpty() || name.startsWith('.') ? QStringLiteral("Transcript") + name : name;
}

} // namespace

TranscriptSaveDialog::TranscriptSaveDialog(QWidget* parent, TranscriptExport transcript)
    : QFileDialog(parent, Localization::text("TRANSCRIPT_SAVE_TITLE")),
      transcript_(std::move(transcript)) {
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    // The same dialog on every desktop, and one that tests can fill in.
    setOption(QFileDialog::DontUseNativeDialog);
    formats_ = {TranscriptFormat::plainText, TranscriptFormat::markdown};
    types_ = {Localization::text("TRANSCRIPT_TYPE_TEXT"),
              Localization::text("TRANSCRIPT_TYPE_MARKDOWN")};
    if (transcript_.hasSubtitles()) {
        formats_.push_back(TranscriptFormat::subtitles);
        types_.push_back(Localization::text("TRANSCRIPT_TYPE_SUBTITLES"));
    }
    setNameFilters(types_);
    setDefaultSuffix(suffixOf(formats_.front()));
    setDirectory(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    selectFile(fileNameOf(transcript_.title()) + '.' + suffixOf(formats_.front()));
    connect(this, &QFileDialog::filterSelected, this, [this](const QString& type) {
        const auto index = types_.indexOf(type);
        if (index < 0) {
            return;
        }
        const QString suffix = suffixOf(formats_[std::size_t(index)]);
        setDefaultSuffix(suffix);
        selectFile(fileNameOf(transcript_.title()) + '.' + suffix);
    });
    connect(this, &QFileDialog::fileSelected, this, &TranscriptSaveDialog::save);
}

TranscriptFormat TranscriptSaveDialog::formatFor(const QString& path) const {
    // An extension the user typed names the form, when it is one the record has.
    const TranscriptFormat typed = TranscriptExport::formatOfPath(path);
    const bool named = typed != TranscriptFormat::plainText ||
                       QFileInfo(path).suffix().toLower() == suffixOf(typed);
    if (named && std::find(formats_.begin(), formats_.end(), typed) != formats_.end()) {
        return typed;
    }
    const auto index = types_.indexOf(selectedNameFilter());
    return index < 0 ? formats_.front() : formats_[std::size_t(index)];
}

void TranscriptSaveDialog::save(const QString& path) {
    if (const auto error = transcript_.save(formatFor(path), path)) {
        AlertManager::shared().showDefaultAlert(
            parentWidget() != nullptr ? parentWidget()->window() : nullptr,
            Localization::text("ERROR"),
            Localization::format(Localization::text("TRANSCRIPT_NOT_SAVED"), {path, *error}),
            AlertManager::AlertStyle::critical);
    }
}

void TranscriptSaveDialog::copyToClipboard(const TranscriptExport& transcript) {
    QGuiApplication::clipboard()->setText(transcript.plainText());
}

} // namespace orvo
