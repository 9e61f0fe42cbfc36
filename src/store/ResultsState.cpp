#include "store/ResultsState.h"

#include <algorithm>

#include "store/Realm.h"
#include "store/RecordFields.h"
#include "store/SearchTable.h"

namespace orvo {
namespace {

// Well below SQLite's limit of bound parameters.
constexpr std::size_t idsPerQuery = 500;

} // namespace

QString ResultsState::selectSql(const QString& where) const {
    QString sql = "SELECT id";
    if (sortField >= 0) {
        sql += QString(", \"%1\"").arg(recordFields[sortField].name);
    }
    sql += " FROM RealmRecordModel";
    QStringList conditions;
    if (!where.isEmpty()) {
        conditions << where;
    }
    if (!condition.sql.isEmpty()) {
        conditions << "(" + condition.sql + ")";
    }
    if (!conditions.isEmpty()) {
        sql += " WHERE " + conditions.join(" AND ");
    }
    return sql;
}

ResultsEntry ResultsState::entryFrom(const SqliteStatement& statement) const {
    ResultsEntry entry;
    entry.rowId = statement.int64(0);
    if (sortField >= 0) {
        entry.isNull = statement.isNull(1);
        const FieldKind kind = recordFields[sortField].kind;
        if (kind == FieldKind::text || kind == FieldKind::optionalText) {
            entry.text = statement.bytes(1);
        } else {
            entry.number = statement.real(1);
        }
    }
    return entry;
}

// The order of the SQL below: the key (NULL first, text bytewise as SQLite's BINARY
// collation), reversed when descending, then the row id ascending.
bool ResultsState::before(const ResultsEntry& a, const ResultsEntry& b) const {
    if (sortField >= 0) {
        int order = 0;
        if (a.isNull != b.isNull) {
            order = a.isNull ? -1 : 1;
        } else if (!a.isNull) {
            // Only one of the two keys is filled; comparing the other would cost a search's
            // sort as much again.
            if (isTextField(sortField)) {
                order = a.text.compare(b.text);
            } else if (a.number != b.number) {
                order = a.number < b.number ? -1 : 1;
            }
        }
        if (order != 0) {
            return ascending ? order < 0 : order > 0;
        }
    }
    return a.rowId < b.rowId;
}

void ResultsState::evaluate() {
    // The records window's searches: stepping SQLite through every row costs several times
    // what finding the needle in memory does.
    if (realm->searchTable_.answers(condition, sortField, ascending)) {
        entries = realm->searchTable_.matching(realm->db_.handle(), condition);
        evaluated = true;
        return;
    }
    // Unfiltered, the index on time gives the order for free. Filtered, a scan of the table
    // (or of the search index, which holds the time too) beats walking the time index with a
    // row lookup each, and sorting the rows here beats SQLite's sorter; before() is the very
    // order of the SQL.
    const bool sortHere = !condition.sql.isEmpty();
    QString sql = selectSql(QString());
    if (!sortHere) {
        sql += " ORDER BY ";
        if (sortField >= 0) {
            sql += QString("\"%1\" %2, ")
                       .arg(recordFields[sortField].name, ascending ? "ASC" : "DESC");
        }
        sql += "id";
    }
    SqliteStatement statement(realm->db_.handle(), sql);
    for (int i = 0; i < condition.bindings.size(); ++i) {
        statement.bind(i + 1, condition.bindings[i]);
    }
    std::vector<ResultsEntry> rows;
    while (statement.step()) {
        rows.push_back(entryFrom(statement));
    }
    if (sortHere) {
        std::sort(rows.begin(), rows.end(),
                  [this](const ResultsEntry& a, const ResultsEntry& b) { return before(a, b); });
    }
    entries = std::move(rows);
    evaluated = true;
}

std::vector<ResultsEntry> ResultsState::fetch(const std::vector<qint64>& rowIds) {
    std::vector<ResultsEntry> rows;
    for (std::size_t first = 0; first < rowIds.size(); first += idsPerQuery) {
        const std::size_t count = std::min(idsPerQuery, rowIds.size() - first);
        QStringList marks;
        for (std::size_t i = 0; i < count; ++i) {
            marks << "?";
        }
        SqliteStatement statement(realm->db_.handle(),
                                  selectSql("id IN (" + marks.join(',') + ")"));
        int index = 1;
        for (std::size_t i = 0; i < count; ++i) {
            statement.bind(index++, rowIds[first + i]);
        }
        for (const QVariant& binding : condition.bindings) {
            statement.bind(index++, binding);
        }
        while (statement.step()) {
            rows.push_back(entryFrom(statement));
        }
    }
    return rows;
}

CollectionChange ResultsState::apply(const std::vector<qint64>& touched) {
    CollectionChange change;
    change.kind = CollectionChange::Kind::update;
    if (touched.empty() || !evaluated) {
        return change;
    }
    std::vector<ResultsEntry> candidates = fetch(touched);
    std::sort(candidates.begin(), candidates.end(),
              [this](const ResultsEntry& a, const ResultsEntry& b) { return before(a, b); });

    // Untouched rows keep their keys and so their order: the new result is the untouched
    // rows merged with the touched rows that match now. A touched row's rank, the number of
    // untouched rows before it, tells whether it stayed in its place among them.
    struct Placed {
        qint64 rowId;
        int index;
        int rank;
    };
    std::vector<Placed> oldTouched;
    std::vector<Placed> newTouched;
    std::vector<ResultsEntry> next;
    next.reserve(entries.size() + candidates.size());
    std::size_t c = 0;
    int untouched = 0;
    const auto placeCandidate = [&] {
        newTouched.push_back({candidates[c].rowId, int(next.size()), untouched});
        next.push_back(std::move(candidates[c++]));
    };
    for (std::size_t i = 0; i < entries.size(); ++i) {
        ResultsEntry& entry = entries[i];
        if (std::binary_search(touched.begin(), touched.end(), entry.rowId)) {
            oldTouched.push_back({entry.rowId, int(i), untouched});
            continue;
        }
        while (c < candidates.size() && before(candidates[c], entry)) {
            placeCandidate();
        }
        next.push_back(std::move(entry));
        ++untouched;
    }
    while (c < candidates.size()) {
        placeCandidate();
    }

    const auto byRowId = [](const Placed& a, const Placed& b) { return a.rowId < b.rowId; };
    std::sort(oldTouched.begin(), oldTouched.end(), byRowId);
    std::sort(newTouched.begin(), newTouched.end(), byRowId);
    auto o = oldTouched.begin();
    auto n = newTouched.begin();
    while (o != oldTouched.end() || n != newTouched.end()) {
        if (n == newTouched.end() || (o != oldTouched.end() && o->rowId < n->rowId)) {
            change.deletions.push_back((o++)->index);
        } else if (o == oldTouched.end() || n->rowId < o->rowId) {
            change.insertions.push_back((n++)->index);
        } else {
            if (o->rank == n->rank) {
                change.modifications.push_back(n->index);
            } else {
                change.deletions.push_back(o->index);
                change.insertions.push_back(n->index);
            }
            ++o;
            ++n;
        }
    }
    std::sort(change.deletions.begin(), change.deletions.end());
    std::sort(change.insertions.begin(), change.insertions.end());
    std::sort(change.modifications.begin(), change.modifications.end());
    entries = std::move(next);
    return change;
}

} // namespace orvo
