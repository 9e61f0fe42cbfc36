#include "store/SearchTable.h"

#include <algorithm>
#include <iterator>

#include "store/RecordFields.h"
#include "store/SqliteDatabase.h"

namespace orvo {
namespace {

QString selectSql() {
    return QString("SELECT id, \"time\", \"favorite\", \"%1\", \"%2\" FROM RealmRecordModel")
        .arg(foldedColumnName(fieldName), foldedColumnName(fieldRecognizeText));
}

} // namespace

bool SearchTable::answers(const SqlCondition& condition, int sortField, bool ascending) const {
    return sortField == fieldTime && !ascending &&
           (condition.search.has_value() || (condition.sql.isEmpty() && loaded_));
}

bool SearchTable::holds(int field) {
    return field == fieldName || field == fieldRecognizeText || field == fieldFavorite ||
           field == fieldTime;
}

void SearchTable::invalidate(qint64 rowId) {
    if (loaded_) {
        stale_.push_back(rowId);
    }
}

// The order of a result sorted by time descending: time, then the row id ascending.
bool SearchTable::newerFirst(const Row& a, const Row& b) {
    if (a.timeMs != b.timeMs) {
        return a.timeMs > b.timeMs;
    }
    return a.rowId < b.rowId;
}

bool SearchTable::matches(const SearchTerm& term, const Row& row) {
    switch (term.kind) {
    case SearchTerm::Kind::constant:
        return term.value;
    case SearchTerm::Kind::favorite:
        return row.favorite == (term.value ? 1 : 0);
    case SearchTerm::Kind::nameContains:
        return !row.nameIsNull && row.name.find(term.needle) != std::string::npos;
    case SearchTerm::Kind::recognizeTextContains:
        return !row.textIsNull && row.text.find(term.needle) != std::string::npos;
    case SearchTerm::Kind::all:
        return std::all_of(term.terms.begin(), term.terms.end(),
                           [&row](const SearchTerm& t) { return matches(t, row); });
    case SearchTerm::Kind::any:
        return std::any_of(term.terms.begin(), term.terms.end(),
                           [&row](const SearchTerm& t) { return matches(t, row); });
    case SearchTerm::Kind::negation:
        return !matches(term.terms.front(), row);
    }
    return false;
}

std::vector<ResultsEntry> SearchTable::matching(sqlite3* db, const SqlCondition& condition) {
    if (!loaded_) {
        load(db);
    } else {
        refresh(db);
    }
    const SearchTerm term =
        condition.search.value_or(SearchTerm{SearchTerm::Kind::constant, true, {}, {}});
    std::vector<ResultsEntry> entries;
    for (const Row& row : rows_) {
        if (matches(term, row)) {
            entries.push_back({row.rowId, false, double(row.timeMs), {}});
        }
    }
    return entries;
}

SearchTable::Row SearchTable::rowFrom(const SqliteStatement& statement) {
    Row row;
    row.rowId = statement.int64(0);
    row.timeMs = statement.int64(1);
    row.favorite = statement.int64(2);
    row.nameIsNull = statement.isNull(3);
    row.textIsNull = statement.isNull(4);
    row.name = statement.textView(3);
    row.text = statement.textView(4);
    return row;
}

void SearchTable::prepare(sqlite3* db) {
    if (!loaded_) {
        load(db);
    }
}

void SearchTable::load(sqlite3* db) {
    loaded_ = false;
    stale_.clear();
    rows_.clear();
    SqliteStatement select(db, selectSql());
    while (select.step()) {
        rows_.push_back(rowFrom(select));
    }
    std::sort(rows_.begin(), rows_.end(), newerFirst);
    rows_.shrink_to_fit();
    loaded_ = true;
}

void SearchTable::refresh(sqlite3* db) {
    if (stale_.empty()) {
        return;
    }
    std::sort(stale_.begin(), stale_.end());
    stale_.erase(std::unique(stale_.begin(), stale_.end()), stale_.end());
    // Many changed rows, as after an import, are read faster as a whole.
    if (stale_.size() > rows_.size() / 8 + 64) {
        load(db);
        return;
    }
    // The stale rows stay listed until the end, so that a failure here reads them next time.
    std::erase_if(rows_, [this](const Row& row) {
        return std::binary_search(stale_.begin(), stale_.end(), row.rowId);
    });
    std::vector<Row> fresh;
    SqliteStatement select(db, selectSql() + " WHERE id = ?");
    for (const qint64 rowId : stale_) {
        select.bind(1, rowId);
        if (select.step()) {
            fresh.push_back(rowFrom(select));
        }
        select.reset();
    }
    std::sort(fresh.begin(), fresh.end(), newerFirst);
    const auto middle = std::ptrdiff_t(rows_.size());
    std::move(fresh.begin(), fresh.end(), std::back_inserter(rows_));
    std::inplace_merge(rows_.begin(), rows_.begin() + middle, rows_.end(), newerFirst);
    stale_.clear();
}

} // namespace orvo
