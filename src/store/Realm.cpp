#include "store/Realm.h"

#include <QStringList>
#include <sqlite3.h>

#include "platform/MainThread.h"
#include "shell/Logging.h"
#include "store/RealmFile.h"
#include "store/RecordFields.h"
#include "store/RecordTableSql.h"
#include "store/ResultsState.h"
#include "store/SearchIndex.h"
#include "store/TextFolding.h"

namespace orvo {
namespace {

// The process-wide default configuration and shared handle; main thread only.
std::optional<RealmConfiguration>& defaultConfigurationSlot() {
    static std::optional<RealmConfiguration> configuration;
    return configuration;
}
std::unique_ptr<Realm>& sharedRealmSlot() {
    static std::unique_ptr<Realm> shared;
    return shared;
}

void runOnce(SqliteStatement& statement) {
    statement.step();
    statement.reset();
}

void programmingError(const char* message) {
    qWarning("Realm: %s", message);
    Q_ASSERT_X(false, "Realm", message);
}

} // namespace

Realm::Realm(const RealmConfiguration& configuration) : configuration_(configuration) {
    Q_ASSERT(isMainThread());
    openFile();
}

Realm::~Realm() {
    statements_.clear();
    db_ = SqliteDatabase();
    if (!notice_ || notice_->storage == OpeningNotice::Storage::catalogue) {
        RealmFile::stampClosed(configuration_.filePath);
    }
    for (auto& [rowId, weak] : objects_) {
        if (const auto record = weak.lock()) {
            record->realm_ = nullptr;
            record->invalidated_ = true;
        }
    }
    for (auto& weak : results_) {
        if (const auto state = weak.lock()) {
            state->realm = nullptr;
            state->entries.clear();
        }
    }
}

bool Realm::setDefaultConfiguration(const RealmConfiguration& configuration) {
    if (sharedRealmSlot() != nullptr) {
        qWarning("Realm: the default configuration cannot change once the database is open");
        return false;
    }
    defaultConfigurationSlot() = configuration;
    return true;
}

std::optional<RealmConfiguration> Realm::defaultConfiguration() {
    return defaultConfigurationSlot();
}

Realm& realm() {
    Q_ASSERT(isMainThread());
    auto& shared = sharedRealmSlot();
    if (shared == nullptr) {
        const auto configuration = defaultConfigurationSlot();
        if (!configuration) {
            qFatal("The records database is used before its configuration is installed");
        }
        shared = std::make_unique<Realm>(*configuration);
    }
    return *shared;
}

void Realm::openFile() {
    RealmFile::Opened opened = RealmFile::open(configuration_);
    db_ = std::move(opened.database);
    notice_ = std::move(opened.notice);
}

void Realm::prepareSearch() {
    try {
        searchTable_.prepare(db_.handle());
    } catch (const StoreError&) {
        // The first search reads it again and reports what fails.
    }
}

void Realm::runForRow(const QStringList& statements, qint64 rowId) {
    for (const QString& sql : statements) {
        auto& each = statement(sql);
        each.bind(1, rowId);
        runOnce(each);
    }
}

// Only searches read the index: one found damaged is made again from the texts, this row's
// among them, rather than failing the write.
void Realm::indexRow(const QStringList& statements, qint64 rowId, bool forgetting) {
    try {
        runForRow(statements, rowId);
        return;
    } catch (const StoreError& error) {
        if (db_.isAutocommit()) {
            throw;
        }
        qWarning("Records database: the search index failed (%s); making it again", error.what());
    }
    SearchIndex::rebuild(db_);
    if (forgetting) {
        runForRow(statements, rowId);
    }
}

SqliteStatement& Realm::statement(const QString& sql) {
    auto& cached = statements_[sql];
    if (cached == nullptr) {
        cached = std::make_unique<SqliteStatement>(db_.handle(), sql);
    } else {
        cached->reset();
    }
    return *cached;
}

bool Realm::write(const std::function<void()>& block) {
    Q_ASSERT(isMainThread());
    if (write_) {
        qWarning("Realm: a write inside a write is refused");
        return false;
    }
    try {
        db_.exec("BEGIN IMMEDIATE");
    } catch (const StoreError& error) {
        Logging::write("Records database write failed: " + error.message(), EventLoging::error);
        return false;
    }
    write_.emplace();
    try {
        block();
        db_.exec("COMMIT");
    } catch (const StoreError& error) {
        rollback();
        Logging::write("Records database write failed: " + error.message(), EventLoging::error);
        return false;
    } catch (...) {
        rollback();
        throw;
    }
    const std::vector<qint64> touched(write_->touchedRows.begin(), write_->touchedRows.end());
    write_.reset();
    notify(touched);
    return true;
}

void Realm::rollback() {
    WriteLog log = std::move(*write_);
    write_.reset();
    if (!db_.isAutocommit()) {
        try {
            db_.exec("ROLLBACK");
        } catch (const StoreError& error) {
            // SQLite has already rolled the transaction back when this fails.
            qWarning("Realm: %s", error.what());
        }
    }
    for (const qint64 rowId : log.touchedRows) {
        searchTable_.invalidate(rowId);
    }
    for (auto& [rowId, saved] : log.before) {
        saved.first->values_ = saved.second;
    }
    for (const auto& record : log.removed) {
        record->invalidated_ = false;
        record->realm_ = this;
        objects_[record->rowId_] = record;
    }
    for (const auto& record : log.added) {
        objects_.erase(record->rowId_);
        record->realm_ = nullptr;
        record->rowId_ = 0;
        record->invalidated_ = false;
    }
    for (const auto& weak : log.resultsReadInside) {
        if (const auto state = weak.lock()) {
            state->evaluated = false;
            startResults(state);
        }
    }
}

void Realm::add(const std::shared_ptr<RealmRecordModel>& record) {
    if (record == nullptr || record->realm_ == this) {
        return;
    }
    if (!write_) {
        programmingError("add outside a write transaction");
        return;
    }
    if (record->realm_ != nullptr || record->invalidated_) {
        programmingError("add of a record of another database or a deleted one");
        return;
    }
    auto& insert = statement(RecordTableSql::insertSql());
    for (int i = 0; i < fieldCount; ++i) {
        insert.bind(i + 1, record->values_.value(i));
    }
    runOnce(insert);
    const qint64 rowId = sqlite3_last_insert_rowid(db_.handle());
    indexRow(SearchIndex::learnSql(), rowId, false);
    record->realm_ = this;
    record->rowId_ = rowId;
    objects_[rowId] = record;
    write_->added.push_back(record);
    write_->addedRows.insert(rowId);
    write_->touchedRows.insert(rowId);
    searchTable_.invalidate(rowId);
}

void Realm::remove(const std::shared_ptr<RealmRecordModel>& record) {
    if (record == nullptr) {
        return;
    }
    if (!write_) {
        programmingError("remove outside a write transaction");
        return;
    }
    if (record->realm_ != this) {
        programmingError("remove of a record that is not stored here");
        return;
    }
    indexRow(SearchIndex::forgetSql(), record->rowId_, true);
    auto& erase = statement(QString("DELETE FROM %1 WHERE id = ?").arg(RecordTableSql::tableName));
    erase.bind(1, record->rowId_);
    runOnce(erase);
    record->invalidated_ = true;
    record->realm_ = nullptr;
    objects_.erase(record->rowId_);
    write_->removed.push_back(record);
    write_->touchedRows.insert(record->rowId_);
    searchTable_.invalidate(record->rowId_);
}

bool Realm::willChange(RealmRecordModel& record, int field, const QVariant& value) {
    Q_ASSERT(isMainThread());
    if (!write_) {
        programmingError("a stored record changed outside a write transaction");
        return false;
    }
    const qint64 rowId = record.rowId_;
    if (write_->addedRows.count(rowId) == 0 && write_->before.count(rowId) == 0) {
        // A stored record is always in the identity map while someone holds it.
        if (auto held = objects_[rowId].lock()) {
            write_->before.emplace(rowId, std::make_pair(std::move(held), record.values_));
        }
    }
    const bool indexed = field == fieldRecognizeText;
    if (indexed) {
        indexRow(SearchIndex::forgetSql(), rowId, true);
    }
    auto& update = statement(RecordTableSql::updateSql(field));
    update.bind(1, value);
    update.bind(2, rowId);
    runOnce(update);
    if (indexed) {
        indexRow(SearchIndex::learnSql(), rowId, false);
    }
    write_->touchedRows.insert(rowId);
    if (SearchTable::holds(field)) {
        searchTable_.invalidate(rowId);
    }
    return true;
}

std::shared_ptr<RealmRecordModel> Realm::object(qint64 rowId) {
    if (const auto found = objects_.find(rowId); found != objects_.end()) {
        if (auto alive = found->second.lock()) {
            return alive;
        }
    }
    try {
        auto& select = statement(QString("SELECT %1 FROM %2 WHERE id = ?")
                                     .arg(RecordTableSql::fieldList(), RecordTableSql::tableName));
        select.bind(1, rowId);
        if (!select.step()) {
            return nullptr;
        }
        auto record = std::make_shared<RealmRecordModel>();
        for (int i = 0; i < fieldCount; ++i) {
            record->values_.setValue(i,
                                     RecordTableSql::columnValue(select, i, recordFields[i].kind));
        }
        select.reset();
        record->realm_ = this;
        record->rowId_ = rowId;
        objects_[rowId] = record;
        if (objects_.size() > 2 * objectsAfterPrune_ + 1024) {
            pruneObjects();
        }
        return record;
    } catch (const StoreError& error) {
        Logging::write("Records database read failed: " + error.message(), EventLoging::error);
        return nullptr;
    }
}

void Realm::pruneObjects() {
    std::erase_if(objects_, [](const auto& entry) { return entry.second.expired(); });
    objectsAfterPrune_ = objects_.size();
}

Results Realm::objects() {
    return Results::make(std::make_shared<ResultsState>(this, SqlCondition{}, -1, true));
}

void Realm::checkCondition(const SqlCondition& condition, const QString& predicate) {
    try {
        SqliteStatement(db_.handle(), QString("SELECT id FROM %1 WHERE %2 LIMIT 0")
                                          .arg(RecordTableSql::tableName, condition.sql));
    } catch (const StoreError& error) {
        throw QueryError("Invalid predicate \"" + predicate + "\": " + error.message());
    }
}

void Realm::track(const std::shared_ptr<ResultsState>& state) {
    std::erase_if(results_, [](const auto& weak) { return weak.expired(); });
    results_.push_back(state);
}

void Realm::startResults(const std::shared_ptr<ResultsState>& state) {
    if (write_) {
        write_->resultsReadInside.push_back(state);
    }
    try {
        state->evaluate();
    } catch (const StoreError& error) {
        Logging::write("Records query failed: " + error.message(), EventLoging::error);
        state->entries.clear();
        state->evaluated = true;
    }
}

void Realm::notify(const std::vector<qint64>& touchedRows) {
    std::erase_if(results_, [](const auto& weak) { return weak.expired(); });
    for (const auto& weak : results_) {
        const auto state = weak.lock();
        if (state == nullptr || !state->evaluated) {
            continue;
        }
        CollectionChange change;
        try {
            change = state->apply(touchedRows);
        } catch (const StoreError& error) {
            Logging::write("Records query failed: " + error.message(), EventLoging::error);
            change.kind = CollectionChange::Kind::error;
            change.error = error.message();
            try {
                state->evaluate();
            } catch (const StoreError&) {
                state->entries.clear();
            }
        }
        for (const auto& observation : state->observations) {
            if (observation->active && observation->initialDelivered) {
                pending_.push_back({observation, change});
            }
        }
    }
    // A write made by an observer queues its notifications behind the ones being
    // delivered, so every observer sees the writes in order.
    if (delivering_) {
        return;
    }
    delivering_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{delivering_};
    while (!pending_.empty()) {
        const PendingNotification next = std::move(pending_.front());
        pending_.pop_front();
        if (next.observation->active) {
            next.observation->callback(next.change);
        }
    }
}

} // namespace orvo
