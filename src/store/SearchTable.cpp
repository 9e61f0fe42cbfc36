#include "store/SearchTable.h"

#include <algorithm>
#include <iterator>

#include "store/RecordFields.h"
#include "store/SearchIndex.h"
#include "store/SqliteDatabase.h"

namespace orvo {
namespace {

// The columns of the covering index beside the search index: a scan never steps over the
// transcripts stored in the rows.
QString selectSql() {
    return QString("SELECT id, \"time\", \"favorite\", \"%1\" FROM RealmRecordModel")
        .arg(foldedColumnName(fieldName));
}

} // namespace

bool SearchTable::answers(const SqlCondition& condition, int sortField, bool ascending) const {
    return sortField == fieldTime && !ascending &&
           (condition.search.has_value() || (condition.sql.isEmpty() && loaded_));
}

bool SearchTable::holds(int field) {
    return field == fieldName || field == fieldFavorite || field == fieldTime;
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

SearchTable::RowSet::RowSet(const std::vector<qint64>& sortedIds, qint64 largestId) {
    if (largestId >= 0 && largestId <= qint64(sortedIds.size()) * 64 + (1 << 20)) {
        bits_.resize(std::size_t(largestId) + 1);
        for (const qint64 id : sortedIds) {
            if (id >= 0 && id <= largestId) {
                bits_[std::size_t(id)] = true;
            }
        }
    } else {
        sorted_ = sortedIds;
    }
}

bool SearchTable::RowSet::contains(qint64 rowId) const {
    if (!bits_.empty()) {
        return rowId >= 0 && rowId < qint64(bits_.size()) && bits_[std::size_t(rowId)];
    }
    return std::binary_search(sorted_.begin(), sorted_.end(), rowId);
}

void SearchTable::findTexts(sqlite3* db, const SearchTerm& term, TextHits& hits) const {
    if (term.kind == SearchTerm::Kind::recognizeTextContains) {
        hits.emplace_back(&term,
                          RowSet(SearchIndex::rowsContaining(db, term.needle), largestRowId_));
    }
    for (const SearchTerm& operand : term.terms) {
        findTexts(db, operand, hits);
    }
}

bool SearchTable::matches(const SearchTerm& term, const Row& row, const TextHits& hits) {
    switch (term.kind) {
    case SearchTerm::Kind::constant:
        return term.value;
    case SearchTerm::Kind::favorite:
        return row.favorite == (term.value ? 1 : 0);
    case SearchTerm::Kind::nameContains:
        return !row.nameIsNull && row.name.find(term.needle) != std::string::npos;
    case SearchTerm::Kind::recognizeTextContains:
        return std::find_if(hits.begin(), hits.end(),
                            [&term](const auto& hit) { return hit.first == &term; })
            ->second.contains(row.rowId);
    case SearchTerm::Kind::all:
        return std::all_of(term.terms.begin(), term.terms.end(),
                           [&](const SearchTerm& t) { return matches(t, row, hits); });
    case SearchTerm::Kind::any:
        return std::any_of(term.terms.begin(), term.terms.end(),
                           [&](const SearchTerm& t) { return matches(t, row, hits); });
    case SearchTerm::Kind::negation:
        return !matches(term.terms.front(), row, hits);
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
    TextHits hits;
    findTexts(db, term, hits);
    std::vector<ResultsEntry> entries;
    // Growing it row by row costs a tenth of a search; the result is kept, so not its spare room.
    entries.reserve(rows_.size());
    for (const Row& row : rows_) {
        if (matches(term, row, hits)) {
            entries.push_back({row.rowId, false, double(row.timeMs), {}});
        }
    }
    entries.shrink_to_fit();
    return entries;
}

SearchTable::Row SearchTable::rowFrom(const SqliteStatement& statement) {
    Row row;
    row.rowId = statement.int64(0);
    row.timeMs = statement.int64(1);
    row.favorite = statement.int64(2);
    row.nameIsNull = statement.isNull(3);
    row.name = statement.textView(3);
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
    largestRowId_ = 0;
    SqliteStatement select(db, selectSql());
    while (select.step()) {
        rows_.push_back(rowFrom(select));
        largestRowId_ = std::max(largestRowId_, rows_.back().rowId);
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
            largestRowId_ = std::max(largestRowId_, fresh.back().rowId);
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
