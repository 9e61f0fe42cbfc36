#pragma once

#include <memory>
#include <optional>

#include <QAbstractListModel>
#include <QHash>

#include "store/CollectionChange.h"
#include "store/Results.h"

namespace orvo {

class RealmRecordModel;

// The rows of the records table: a live result of the catalogue, one row per record in its
// order. Records are read only for the rows the view asks for, so a catalogue of any size
// costs one row id per record here. Main thread only.
class RecordTableModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit RecordTableModel(QObject* parent = nullptr);

    // A new result: every row is read again (a filter change, not an update).
    void setResults(std::optional<Results> results);
    const std::optional<Results>& results() const { return results_; }

    // Brings the rows in step with one notification of the result: removals, insertions and
    // changed rows for an update, a reload for the initial state or an error.
    void apply(const CollectionChange& change);

    // The record of a row; nullptr outside the rows.
    std::shared_ptr<RealmRecordModel> record(int row) const;

    // The seconds a row shows: the catalogue's, else its media file's, which is read once,
    // off the main thread (the rows repaint when it is known); 0 meanwhile.
    double durationOf(const RealmRecordModel& record);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // For screen readers: the row's name, date, duration and star; its note, whether it has a
    // transcript, and the keys that act on it.
    QString accessibleText(const RealmRecordModel& record) const;
    static QString accessibleDescription(const RealmRecordModel& record);

private:
    std::optional<Results> results_;
    // The rows the view knows; the result has moved on when a notification arrives.
    int rowCount_ = 0;
    // By file name: the durations read from the files of records that have none.
    QHash<QString, double> readDurations_;
};

} // namespace orvo
