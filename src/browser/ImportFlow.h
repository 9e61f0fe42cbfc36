#pragma once

#include <functional>
#include <memory>
#include <vector>

#include <QObject>
#include <QPointer>
#include <QStringList>

#include "recording/RecordImporter.h"

class QFileDialog;
class QWidget;

namespace orvo {

class AlertDialog;
class RealmRecordModel;
class RecordTableViewController;

// Files brought into the catalogue from the records window (File ▸ Import, or dropped on it):
// the sheet while each is carried, one alert for those that could not be, then the offer to
// transcribe what came. Main thread only.
class ImportFlow : public QObject {
    Q_OBJECT
public:
    // table: where accepted transcriptions run, asked when they start.
    ImportFlow(QWidget& window, std::function<RecordTableViewController*()> table);

    // The file dialog; its choice is imported.
    QFileDialog* chooseFiles();
    void importFiles(const QStringList& paths);
    // Whether the files of a drop can be offered to the import: local files only.
    static QStringList localFiles(const QList<QUrl>& urls);

    const RecordImporter& importer() const { return importer_; }

private:
    void showProgress(const QString& path);
    void finishBatch();
    void offerTranscription();
    void transcribeFrom(std::size_t index);

    QWidget& window_;
    std::function<RecordTableViewController*()> table_;
    RecordImporter importer_;
    std::vector<std::shared_ptr<RealmRecordModel>> imported_;
    QStringList refusals_;
    QPointer<AlertDialog> sheet_;
    int batchSize_ = 0;
    int batchDone_ = 0;
};

} // namespace orvo
