#include "browser/RecordTableModel.h"

#include <QPointer>
#include <QThreadPool>

#include "platform/MainThread.h"
#include "recording/RecordManager.h"
#include "shell/Formatting.h"
#include "shell/Localization.h"
#include "store/RealmRecordModel.h"

namespace orvo {

RecordTableModel::RecordTableModel(QObject* parent) : QAbstractListModel(parent) {}

void RecordTableModel::setResults(std::optional<Results> results) {
    beginResetModel();
    results_ = std::move(results);
    rowCount_ = results_ ? results_->size() : 0;
    endResetModel();
}

void RecordTableModel::apply(const CollectionChange& change) {
    if (change.kind != CollectionChange::Kind::update) {
        setResults(results_);
        return;
    }
    // Deletions count in the old rows, so the last goes first; insertions in the new rows,
    // so the first goes first.
    for (auto it = change.deletions.rbegin(); it != change.deletions.rend(); ++it) {
        beginRemoveRows(QModelIndex(), *it, *it);
        --rowCount_;
        endRemoveRows();
    }
    for (const int row : change.insertions) {
        beginInsertRows(QModelIndex(), row, row);
        ++rowCount_;
        endInsertRows();
    }
    for (const int row : change.modifications) {
        emit dataChanged(index(row), index(row));
    }
    // A change set that does not add up would leave the view on rows that do not exist.
    if (results_ && rowCount_ != results_->size()) {
        setResults(results_);
    }
}

std::shared_ptr<RealmRecordModel> RecordTableModel::record(int row) const {
    if (!results_ || row < 0 || row >= rowCount_) {
        return nullptr;
    }
    return results_->at(row);
}

int RecordTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rowCount_;
}

QVariant RecordTableModel::data(const QModelIndex& index, int role) const {
    const auto item = record(index.row());
    if (!item) {
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
        return item->name();
    case Qt::AccessibleTextRole:
        return accessibleText(*item);
    case Qt::AccessibleDescriptionRole:
        return accessibleDescription(*item);
    default:
        return {};
    }
}

QString RecordTableModel::accessibleText(const RealmRecordModel& record) const {
    // What the row shows, in the order it shows it; the star as a word.
    QStringList parts{record.name(), convertToNormalFormated(record.time()),
                      convertSecondstToMin(record.duration())};
    if (record.favorite()) {
        parts << Localization::text("ACCESSIBLE_FAVOURITE");
    }
    return parts.join(QStringLiteral(", "));
}

QString RecordTableModel::accessibleDescription(const RealmRecordModel& record) {
    QStringList parts;
    if (!record.note().trimmed().isEmpty()) {
        parts << Localization::text("NOTE") + QStringLiteral(": ") + record.note().trimmed();
    }
    if (!record.recognizeText().trimmed().isEmpty()) {
        parts << Localization::text("ACCESSIBLE_HAS_TRANSCRIPT");
    }
    parts << Localization::text("ACCESSIBLE_ROW_KEYS");
    return parts.join(QStringLiteral(". "));
}

double RecordTableModel::durationOf(const RealmRecordModel& record) {
    if (record.duration() != 0) {
        return record.duration();
    }
    const QString fileName = record.fileName();
    if (const auto read = readDurations_.constFind(fileName); read != readDurations_.cend()) {
        return *read;
    }
    readDurations_[fileName] = 0;
    // What the row shows as a screen recording, any unknown type included.
    const RecordType type = recordTypeFromText(record.typeRecord()).value_or(RecordType::video);
    QThreadPool::globalInstance()->start([model = QPointer<RecordTableModel>(this), fileName,
                                          type] {
        const double seconds = RecordManager::duration(fileName, type);
        dispatchToMain([model, fileName, seconds] {
            if (model != nullptr && seconds != 0) {
                model->readDurations_[fileName] = seconds;
                if (model->rowCount_ > 0) {
                    emit model->dataChanged(model->index(0), model->index(model->rowCount_ - 1));
                }
            }
        });
    });
    return 0;
}

} // namespace orvo
