#pragma once

#include <functional>
#include <memory>
#include <vector>

#include <QByteArray>

#include "store/CollectionChange.h"
#include "store/Predicate.h"
#include "store/SqliteDatabase.h"

namespace orvo {

class Realm;

// One observer of a live result.
struct Observation {
    std::function<void(const CollectionChange&)> callback;
    // Updates wait for the initial notification, which already shows them.
    bool initialDelivered = false;
    bool active = true;
};

// A row of a result with its sort key, so that changed rows can be placed without asking
// the database for the whole result again.
struct ResultsEntry {
    qint64 rowId = 0;
    bool isNull = false;
    double number = 0;
    QByteArray text;
};

// The shared state behind Results handles and notification tokens: the query and, once
// evaluated, the ordered rows. Main thread only.
class ResultsState {
public:
    ResultsState(Realm* realm, SqlCondition condition, int sortField, bool ascending)
        : realm(realm), condition(std::move(condition)), sortField(sortField),
          ascending(ascending) {}

    // Reads the whole result. Throws StoreError.
    void evaluate();
    // Brings the rows up to date after a write that touched the rows with these ids
    // (ascending) and tells what changed.
    CollectionChange apply(const std::vector<qint64>& touched);

    // Cleared when the Realm closes.
    Realm* realm;
    const SqlCondition condition;
    const int sortField; // -1: by row id
    const bool ascending;
    bool evaluated = false;
    std::vector<ResultsEntry> entries;
    std::vector<std::shared_ptr<Observation>> observations;

private:
    QString selectSql(const QString& where) const;
    ResultsEntry entryFrom(const SqliteStatement& statement) const;
    bool before(const ResultsEntry& a, const ResultsEntry& b) const;
    std::vector<ResultsEntry> fetch(const std::vector<qint64>& rowIds);
};

} // namespace orvo
