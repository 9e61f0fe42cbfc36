#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <unordered_map>
#include <vector>

#include <QStringList>

#include "store/CollectionChange.h"
#include "store/OpeningNotice.h"
#include "store/Predicate.h"
#include "store/RealmConfiguration.h"
#include "store/RealmRecordModel.h"
#include "store/Results.h"
#include "store/SearchTable.h"
#include "store/SqliteDatabase.h"

namespace orvo {

class ResultsState;
struct Observation;

// The records database: one SQLite connection, one live object per stored row, write
// transactions, live queries and their change notifications. One Realm per file in a
// process. Main thread only: every method, and every notification, runs there.
class Realm {
public:
    // Opens the file, creating it at the configured schema version when it has no tables.
    // A file of the layout before the folded search copies gains them, once, at open.
    // A file that is not a database, or carries another schema, is moved aside to
    // "<file>.unreadable-<timestamp>" with one error line in the technical log, and a
    // fresh file takes its place. When the file cannot be used the records go to
    // "<file>.pending", and live in memory only when even that fails. A pending file left by
    // an earlier run is added to the file that opens, once, and removed.
    explicit Realm(const RealmConfiguration& configuration);
    ~Realm();
    Realm(const Realm&) = delete;
    Realm& operator=(const Realm&) = delete;

    // Installs the configuration that the shared handle opens with. Refused (false) once
    // the shared handle is open.
    static bool setDefaultConfiguration(const RealmConfiguration& configuration);
    static std::optional<RealmConfiguration> defaultConfiguration();

    const RealmConfiguration& configuration() const { return configuration_; }
    // True when no file could be used and the records are not persisted.
    bool isInMemory() const {
        return notice_ && notice_->storage == OpeningNotice::Storage::memory;
    }
    // What the user must be told about the opening; empty when the file is theirs as it was.
    const std::optional<OpeningNotice>& openingNotice() const { return notice_; }
    bool isInWriteTransaction() const { return write_.has_value(); }

    // Runs block in one transaction and commits it, then notifies the observers of every
    // live result once. On a database failure (or an exception, which is rethrown) the
    // file and every record object return to their state before the block, and false is
    // returned; database failures are logged. A write inside a write is refused (false).
    bool write(const std::function<void()>& block);
    // Inside write: stores a new record; it becomes live. A record of this Realm is left
    // as it is.
    void add(const std::shared_ptr<RealmRecordModel>& record);
    // Inside write: deletes a stored record; the object is invalidated.
    void remove(const std::shared_ptr<RealmRecordModel>& record);

    // All records, in the order of insertion.
    Results objects();

    // Reads into memory what searches of the records window need, so that the first search
    // does not wait for it; for an idle moment. A failure is left to the first search.
    void prepareSearch();

private:
    friend class RealmRecordModel;
    friend class Results;
    friend class ResultsState;

    struct WriteLog {
        // Values of each changed record before its first change in this write.
        std::map<qint64, std::pair<std::shared_ptr<RealmRecordModel>, RecordValues>> before;
        std::vector<std::shared_ptr<RealmRecordModel>> added;
        std::vector<std::shared_ptr<RealmRecordModel>> removed;
        std::set<qint64> addedRows;
        std::set<qint64> touchedRows;
        // Results read inside the write have seen its rows; a rollback reads them again.
        std::vector<std::weak_ptr<ResultsState>> resultsReadInside;
    };
    struct PendingNotification {
        std::shared_ptr<Observation> observation;
        CollectionChange change;
    };

    void openFile();
    SqliteStatement& statement(const QString& sql);
    // Runs each statement with ?1 bound to the row id. Throws StoreError.
    void runForRow(const QStringList& statements, qint64 rowId);
    // The search index's statements for the row, before its text changes or it goes
    // (forgetting), or after. Throws StoreError.
    void indexRow(const QStringList& statements, qint64 rowId, bool forgetting);

    // The setter's half of a change: refuses it outside a write, else remembers the old
    // values and writes the new one. Throws StoreError.
    bool willChange(RealmRecordModel& record, int field, const QVariant& value);
    // The live object of a row, read from the file when nobody holds it; nullptr when the
    // row cannot be read.
    std::shared_ptr<RealmRecordModel> object(qint64 rowId);
    // Prepares the condition once, so that whatever SQLite refuses is a QueryError when the
    // query is made rather than an empty result later. Throws QueryError.
    void checkCondition(const SqlCondition& condition, const QString& predicate);
    // Every result of this Realm is known to it, so that closing can detach them.
    void track(const std::shared_ptr<ResultsState>& state);
    // Evaluates a result; from then on each write brings it up to date.
    void startResults(const std::shared_ptr<ResultsState>& state);
    // Ends the open write: the file and every object return to their state before it.
    void rollback();
    void notify(const std::vector<qint64>& touchedRows);
    void pruneObjects();

    RealmConfiguration configuration_;
    SqliteDatabase db_;
    std::optional<OpeningNotice> notice_;
    std::map<QString, std::unique_ptr<SqliteStatement>> statements_;
    std::unordered_map<qint64, std::weak_ptr<RealmRecordModel>> objects_;
    std::size_t objectsAfterPrune_ = 0;
    std::vector<std::weak_ptr<ResultsState>> results_;
    // Told of every row a write touches, and of every row of a rolled-back write.
    SearchTable searchTable_;
    std::optional<WriteLog> write_;
    std::deque<PendingNotification> pending_;
    bool delivering_ = false;
};

// The shared handle: opened with the default configuration on first use, kept for the life
// of the process. Main thread only; the configuration must have been installed.
Realm& realm();

} // namespace orvo
