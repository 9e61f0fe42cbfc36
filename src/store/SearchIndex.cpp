#include "store/SearchIndex.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include <QtDebug>
#include <sqlite3.h>

#include "store/RecordFields.h"
#include "store/RecordTableSql.h"

namespace orvo {
namespace {

// Needles of up to this many characters are looked up whole; longer ones as the phrase of
// their runs of this length.
constexpr int runLength = 5;
const QString runTable = QStringLiteral("RecordTextRuns");
const QString phraseTable = QStringLiteral("RecordTextPhrases");
const char* const runTokenizer = "orvo_runs";
const char* const phraseTokenizer = "orvo_phrases";

QString textColumn() {
    return foldedColumnName(fieldRecognizeText);
}

QString definitionSql(const QString& table) {
    const QString tokenizer = table == phraseTable ? phraseTokenizer : runTokenizer;
    // Positions only where a phrase needs them: a short needle is one term.
    const QString detail = table == phraseTable ? "full" : "none";
    return QString("CREATE VIRTUAL TABLE %1 USING fts5(\"%2\", content='%3', content_rowid='id', "
                   "tokenize='%4', detail='%5', columnsize=0)")
        .arg(table, textColumn(), RecordTableSql::tableName, tokenizer, detail);
}

bool isCodePointStart(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
}

int codePointCount(const std::string& text) {
    return int(std::count_if(text.begin(), text.end(), isCodePointStart));
}

// The tokenizers of the two tables. Neither keeps state: the pointer one hands out only has
// to be other than null.
int createTokenizer(void* context, const char**, int, Fts5Tokenizer** tokenizer) {
    *tokenizer = static_cast<Fts5Tokenizer*>(context);
    return SQLITE_OK;
}

void deleteTokenizer(Fts5Tokenizer*) {}

using TokenCallback = int (*)(void*, int, const char*, int, int, int);

// FTS5 of SQLite 3.40 ends a term at a NUL byte, and its index is then damaged: a NUL is
// given as 0xFF, which no folded needle holds, so that such a term keeps its place but never
// matches (a needle with NUL is searched in the table instead).
int emitTerm(void* context, TokenCallback token, const char* text, int begin, int end) {
    const char* term = text + begin;
    const int length = end - begin;
    if (std::memchr(term, '\0', std::size_t(length)) == nullptr) {
        return token(context, 0, term, length, begin, end);
    }
    std::string replaced(term, std::size_t(length));
    std::replace(replaced.begin(), replaced.end(), '\0', '\xff');
    return token(context, 0, replaced.data(), length, begin, end);
}

// Every run of `width` neighbouring characters of the text, in order, and with shorter, each
// run shorter than that too.
int emitRuns(void* context, TokenCallback token, const char* text, int size, int width,
             bool shorter) {
    // The starts of the last characters, by their number modulo runLength.
    std::array<int, runLength> starts{};
    int seen = 0;
    for (int at = 0; at <= size; ++at) {
        if (at < size && !isCodePointStart(text[at])) {
            continue;
        }
        // The character begun last ends here: the runs that end with it.
        for (int run = shorter ? 1 : width; run <= std::min(width, seen); ++run) {
            if (const int rc = emitTerm(context, token, text, starts[(seen - run) % runLength], at);
                rc != SQLITE_OK) {
                return rc;
            }
        }
        starts[seen % runLength] = at;
        ++seen;
    }
    return SQLITE_OK;
}

// A text gives every run of one to runLength characters, once each is enough; a query is one
// needle that long, looked up whole.
int tokenizeRuns(Fts5Tokenizer*, void* context, int flags, const char* text, int size,
                 TokenCallback token) {
    if ((flags & FTS5_TOKENIZE_QUERY) != 0) {
        return size > 0 ? emitTerm(context, token, text, 0, size) : SQLITE_OK;
    }
    return emitRuns(context, token, text, size, runLength, true);
}

// A text and a longer needle alike give their runs of runLength characters at each character,
// so that the needle is found as the phrase of its runs at neighbouring positions.
int tokenizePhrases(Fts5Tokenizer*, void* context, int, const char* text, int size,
                    TokenCallback token) {
    return emitRuns(context, token, text, size, runLength, false);
}

fts5_api* fts5Of(sqlite3* db) {
    fts5_api* api = nullptr;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &statement, nullptr) == SQLITE_OK) {
        sqlite3_bind_pointer(statement, 1, &api, "fts5_api_ptr", nullptr);
        sqlite3_step(statement);
    }
    sqlite3_finalize(statement);
    return api;
}

// A needle as an FTS5 phrase: between double quotes, its own doubled.
QString phrase(const std::string& needle) {
    QString quoted = QString::fromStdString(needle);
    quoted.replace('"', "\"\"");
    return '"' + quoted + '"';
}

// A statement for each table, from a pattern of %1 the table, %2 the text column and %3 the
// records table.
QStringList perTable(const char* pattern) {
    QStringList statements;
    for (const QString& table : {runTable, phraseTable}) {
        statements << QString(pattern).arg(table, textColumn(), RecordTableSql::tableName);
    }
    return statements;
}

constexpr const char* collectedType = "orvo_collected_rows";

// orvo_collect(rows, id): appends id to the vector bound as rows. Collecting inside one step
// costs half of stepping out of SQLite for every row of a needle most texts hold.
void collectFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
    auto* rows =
        static_cast<std::vector<qint64>*>(sqlite3_value_pointer(arguments[0], collectedType));
    if (rows != nullptr) {
        rows->push_back(sqlite3_value_int64(arguments[1]));
    }
    sqlite3_result_null(context);
}

// FTS5 gives rowids ascending already; a damaged index need not.
std::vector<qint64> ascending(std::vector<qint64> ids) {
    if (!std::is_sorted(ids.begin(), ids.end())) {
        std::sort(ids.begin(), ids.end());
    }
    return ids;
}

} // namespace

int SearchIndex::registerOn(sqlite3* db) {
    if (const int rc =
            sqlite3_create_function_v2(db, "orvo_collect", 2, SQLITE_UTF8 | SQLITE_DIRECTONLY,
                                       nullptr, collectFunction, nullptr, nullptr, nullptr);
        rc != SQLITE_OK) {
        return rc;
    }
    fts5_api* api = fts5Of(db);
    if (api == nullptr) {
        return SQLITE_ERROR;
    }
    // FTS5 keeps a copy of the functions.
    fts5_tokenizer runs{createTokenizer, deleteTokenizer, tokenizeRuns};
    fts5_tokenizer phrases{createTokenizer, deleteTokenizer, tokenizePhrases};
    const int rc = api->xCreateTokenizer(api, runTokenizer, api, &runs, nullptr);
    return rc != SQLITE_OK ? rc
                           : api->xCreateTokenizer(api, phraseTokenizer, api, &phrases, nullptr);
}

QString SearchIndex::createSql() {
    return QString("%1; %2; CREATE INDEX %3_search ON %3(\"time\", \"favorite\", \"%4\");")
        .arg(definitionSql(runTable), definitionSql(phraseTable), RecordTableSql::tableName,
             foldedColumnName(fieldName));
}

QStringList SearchIndex::tableNames() {
    QStringList names;
    for (const QString& table : {runTable, phraseTable}) {
        names << table;
        for (const char* shadow : {"_config", "_data", "_idx"}) {
            names << table + shadow;
        }
    }
    names.sort();
    return names;
}

namespace {

// The index's tables as the file defines them, FTS5's own shadow tables among them.
QStringList indexSchemaOf(sqlite3* db) {
    QStringList rows;
    SqliteStatement schema(db, "SELECT type, name, tbl_name, ifnull(sql, '') FROM sqlite_schema "
                               "WHERE tbl_name IN (SELECT value FROM json_each(?)) ORDER BY name");
    schema.bind(1, QString("[\"%1\"]").arg(SearchIndex::tableNames().join("\",\"")));
    while (schema.step()) {
        rows << QStringList{schema.text(0), schema.text(1), schema.text(2), schema.text(3)}.join(
            '|');
    }
    return rows;
}

} // namespace

bool SearchIndex::isOwnDefinition(SqliteDatabase& db) {
    // A shadow table altered (a column renamed) passes every read and fails every write: the
    // file's definitions must be those that FTS5 makes, made once here to compare.
    static const QStringList own = [] {
        SqliteDatabase made = SqliteDatabase::openInMemory();
        registerOn(made.handle());
        made.exec(QString("%1; %2;").arg(definitionSql(runTable), definitionSql(phraseTable)));
        return indexSchemaOf(made.handle());
    }();
    return indexSchemaOf(db.handle()) == own;
}

void SearchIndex::addTo(SqliteDatabase& db) {
    // Another process may have done it before this one took the write lock.
    SqliteStatement present(db.handle(), "SELECT 1 FROM sqlite_schema WHERE name = ?");
    present.bind(1, runTable);
    if (!present.step()) {
        db.exec(createSql());
        rebuild(db);
        qInfo("Records database: search index made for the transcripts");
    }
}

namespace {

// A failure to make the index from the texts is a file that cannot be mended.
template <typename Work> void asDamagedIndex(Work&& work) {
    try {
        work();
    } catch (const StoreError& error) {
        throw StoreError("damaged search index: " + error.message(), SQLITE_CORRUPT);
    }
}

} // namespace

void SearchIndex::makeAgain(SqliteDatabase& db) {
    qWarning("Records database: the search index is defined otherwise; making it again");
    asDamagedIndex([&] {
        // Each virtual table drops its shadow tables with it.
        for (const QString& table : {runTable, phraseTable}) {
            db.exec(QString("DROP TABLE %1").arg(table));
        }
        db.exec(QString("%1; %2;").arg(definitionSql(runTable), definitionSql(phraseTable)));
        rebuild(db);
    });
}

bool SearchIndex::isReadable(SqliteDatabase& db) {
    try {
        // Reads each table's structure and settings, which every use of it reads first.
        for (const QString& table : {runTable, phraseTable}) {
            rowIds(db.handle(),
                   QString("SELECT rowid FROM %1 WHERE %1 MATCH '\"abcdef\"' LIMIT 1").arg(table),
                   {});
        }
        return true;
    } catch (const StoreError& error) {
        qWarning("Records database: the search index cannot be read (%s); making it again",
                 error.what());
        return false;
    }
}

void SearchIndex::rebuildUnreadable(SqliteDatabase& db) {
    asDamagedIndex([&] { rebuild(db); });
}

void SearchIndex::rebuild(SqliteDatabase& db) {
    for (const QString& table : {runTable, phraseTable}) {
        db.exec(QString("INSERT INTO %1(%1) VALUES ('rebuild')").arg(table));
    }
}

const QStringList& SearchIndex::learnSql() {
    static const QStringList statements =
        perTable("INSERT INTO %1(rowid, \"%2\") SELECT id, \"%2\" FROM %3 WHERE id = ?1");
    return statements;
}

const QStringList& SearchIndex::forgetSql() {
    static const QStringList statements = perTable(
        "INSERT INTO %1(%1, rowid, \"%2\") SELECT 'delete', id, \"%2\" FROM %3 WHERE id = ?1");
    return statements;
}

std::vector<qint64> SearchIndex::rowsContaining(sqlite3* db, const std::string& needle) {
    if (needle.empty()) {
        return rowIds(db,
                      QString("SELECT id FROM %1 WHERE \"%2\" IS NOT NULL ORDER BY id")
                          .arg(RecordTableSql::tableName, textColumn()),
                      {});
    }
    if (needle.find('\0') == std::string::npos) {
        const QString& table = codePointCount(needle) > runLength ? phraseTable : runTable;
        try {
            return matchingRows(db, table, phrase(needle));
        } catch (const StoreError& error) {
            qWarning("Records database: the search index failed (%s); searching the table",
                     error.what());
        }
    }
    return rowIds(db, scanSql(), QString::fromStdString(needle));
}

std::vector<qint64> SearchIndex::matchingRows(sqlite3* db, const QString& table,
                                              const QString& query) {
    SqliteStatement select(
        db, QString("SELECT count(orvo_collect(?2, rowid)) FROM %1 WHERE %1 MATCH ?1").arg(table));
    select.bind(1, query);
    std::vector<qint64> ids;
    select.bindPointer(2, &ids, collectedType);
    while (select.step()) {
    }
    return ascending(std::move(ids));
}

QString SearchIndex::scanSql() {
    return QString("SELECT id FROM %1 WHERE orvo_find(\"%2\", ?) ORDER BY id")
        .arg(RecordTableSql::tableName, textColumn());
}

std::vector<qint64> SearchIndex::rowIds(sqlite3* db, const QString& sql, const QVariant& binding) {
    SqliteStatement select(db, sql);
    if (binding.isValid()) {
        select.bind(1, binding);
    }
    std::vector<qint64> ids;
    while (select.step()) {
        ids.push_back(select.int64(0));
    }
    return ascending(std::move(ids));
}

} // namespace orvo
