#pragma once

#include <string>
#include <utility>
#include <vector>

#include <QtGlobal>

#include "store/Predicate.h"
#include "store/ResultsState.h"
#include "store/SqliteDatabase.h"

struct sqlite3;

namespace orvo {

// The searches of the records window, newest first. What they ask of every record but the
// transcript is held here, in memory: a search reads it instead of stepping through the
// table, and needs no sort. The transcripts are asked of the search index on disk, once per
// needle. A cache of the database, read on first use: a row that a write touches is read again
// before the next search, so that a search sees the rows of an open write as the database
// does, and those before it once the write is rolled back. Main thread only.
class SearchTable {
public:
    // Whether a result with this condition and order is answered here: a search term newest
    // first, and every record newest first once the table is read (as after a search, when
    // the search field is cleared).
    bool answers(const SqlCondition& condition, int sortField, bool ascending) const;
    // Whether the field is one that the table holds.
    static bool holds(int field);

    // The row was added, changed, deleted or rolled back in the database.
    void invalidate(qint64 rowId);
    // The rows of a result that it answers, newest first, ties by row id, keyed as a result
    // sorted by time keys them. Throws StoreError.
    std::vector<ResultsEntry> matching(sqlite3* db, const SqlCondition& condition);
    // Reads the table now unless it is read already. Throws StoreError.
    void prepare(sqlite3* db);

private:
    struct Row {
        qint64 rowId = 0;
        qint64 timeMs = 0;
        qint64 favorite = 0;
        // A NULL name matches nothing, as in SQL.
        bool nameIsNull = false;
        std::string name;
    };
    // The rows whose transcript holds a needle, as a bit per row id: a search asks it of every
    // row. Ids far beyond the rows' count (a file from elsewhere) are looked up instead.
    class RowSet {
    public:
        RowSet(const std::vector<qint64>& sortedIds, qint64 largestId);
        bool contains(qint64 rowId) const;

    private:
        std::vector<bool> bits_;
        std::vector<qint64> sorted_;
    };
    // The rows of each transcript term of a search: a term or two, looked up for every row.
    using TextHits = std::vector<std::pair<const SearchTerm*, RowSet>>;

    static Row rowFrom(const SqliteStatement& statement);
    static bool newerFirst(const Row& a, const Row& b);
    void findTexts(sqlite3* db, const SearchTerm& term, TextHits& hits) const;
    static bool matches(const SearchTerm& term, const Row& row, const TextHits& hits);
    void load(sqlite3* db);
    void refresh(sqlite3* db);

    std::vector<Row> rows_;
    // Sorted once a refresh starts.
    std::vector<qint64> stale_;
    qint64 largestRowId_ = 0;
    bool loaded_ = false;
};

} // namespace orvo
