#pragma once

#include <string>
#include <vector>

#include <QString>
#include <QStringList>

#include "store/SqliteDatabase.h"

struct sqlite3;

namespace orvo {

// The transcripts' search index in the catalogue file: what contains[cd] on recognizeText
// finds, answered from disk, so that years of hour-long transcripts need not be held in
// memory. Two full-text tables over the folded copy, which is their external content, kept up
// to date by the store's own writes (a file may not carry triggers):
// - which runs of one to five neighbouring characters each text holds: a needle of up to five
//   characters is one term to look up;
// - the runs of five characters of each text with their positions, for longer needles: the
//   runs of a needle found at neighbouring positions are the needle itself.
// Also a covering index of what the search keeps in memory of every record, so that reading
// it does not step over the transcripts.
class SearchIndex {
public:
    // Registers the index's tokenizers and its function on the connection; they must be there
    // before the index is read or written. Returns the SQLite result code.
    static int registerOn(sqlite3* db);

    // The statements that create the index, without a transaction of their own.
    static QString createSql();
    // The tables of the index, FTS5's own among them, sorted.
    static QStringList tableNames();
    // Whether the file's full-text tables are defined as createSql defines them, FTS5's shadow
    // tables included.
    static bool isOwnDefinition(SqliteDatabase& db);
    // The writes below run in the caller's transaction, so that a file found damaged while it
    // is mended is left as it came.
    // Creates the index in a file of the layout before it and fills it. Throws StoreError.
    static void addTo(SqliteDatabase& db);
    // Reads every text again. Throws StoreError.
    static void rebuild(SqliteDatabase& db);
    // Drops the index's tables and makes them again from the texts: an index defined otherwise
    // fails writes that it passes reads. Throws StoreError (SQLITE_CORRUPT) when that fails.
    static void makeAgain(SqliteDatabase& db);
    // Whether the index's tables can be read; reads only.
    static bool isReadable(SqliteDatabase& db);
    // Makes an index that cannot be read again from the texts. Throws StoreError
    // (SQLITE_CORRUPT) when even that fails.
    static void rebuildUnreadable(SqliteDatabase& db);

    // Statements binding ?1 to a row id: run learnSql after the row's folded text is written,
    // forgetSql before it changes or the row is deleted.
    static const QStringList& learnSql();
    static const QStringList& forgetSql();

    // The ids of the rows whose folded text contains the folded needle (an empty needle: every
    // text), ascending. Where the index cannot answer (a needle with NUL, which its query
    // syntax cannot carry, or an index found damaged) the table is scanned instead, with the
    // same result. Throws StoreError when even that fails.
    static std::vector<qint64> rowsContaining(sqlite3* db, const std::string& needle);

private:
    static std::vector<qint64> rowIds(sqlite3* db, const QString& sql, const QVariant& binding);
    static std::vector<qint64> matchingRows(sqlite3* db, const QString& table,
                                            const QString& query);
    static QString scanSql();
};

} // namespace orvo
