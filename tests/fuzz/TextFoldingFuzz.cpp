// Text and a needle of any bytes (split at the first NUL): folding is idempotent, and the
// three matchers of contains agree for every option: the one on whole strings, the SQL
// function that the table scan runs, and the search of a folded needle in a folded copy,
// which the in-memory search runs.
#include <cstdint>
#include <memory>

#include <sqlite3.h>

#include "FuzzCheck.h"
#include "store/TextFolding.h"

namespace {

using orvo::fuzz::check;

struct Database {
    Database() {
        sqlite3_open(":memory:", &db);
        check(orvo::registerSearchFunctions(db) == SQLITE_OK, "the search functions register");
        sqlite3_prepare_v2(db,
                           "SELECT orvo_contains(?1, ?2, ?3), orvo_find(orvo_fold(?1), "
                           "orvo_fold(?2))",
                           -1, &statement, nullptr);
        check(statement != nullptr, "the query prepares");
    }
    ~Database() {
        sqlite3_finalize(statement);
        sqlite3_close(db);
    }
    // orvo_contains(text, needle, options), and for [cd] whether the folded copies match.
    std::pair<int, int> ask(const QByteArray& text, const QByteArray& needle, int options) {
        sqlite3_reset(statement);
        sqlite3_bind_text(statement, 1, text.constData(), int(text.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(statement, 2, needle.constData(), int(needle.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int(statement, 3, options);
        check(sqlite3_step(statement) == SQLITE_ROW, "the query runs");
        return {sqlite3_column_int(statement, 0), sqlite3_column_int(statement, 1)};
    }
    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Database database;
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype split = bytes.indexOf('\0');
    const QByteArray rawText = split < 0 ? bytes : bytes.left(split);
    const QByteArray rawNeedle = split < 0 ? QByteArray() : bytes.mid(split + 1);
    // Bytes that are no UTF-8 must not break anything; what is compared is the text they read as.
    database.ask(rawText, rawNeedle, 3);
    const QString text = QString::fromUtf8(rawText);
    const QString needle = QString::fromUtf8(rawNeedle);
    for (int options = 0; options <= 3; ++options) {
        const QString folded = orvo::foldForSearch(text, options);
        check(orvo::foldForSearch(folded, options) == folded, "folding is idempotent");
        const bool contains = orvo::searchContains(text, needle, options);
        const auto [sqlContains, foldedFind] =
            database.ask(text.toUtf8(), needle.toUtf8(), options);
        check(sqlContains == (contains ? 1 : 0), "the SQL function agrees with the strings'");
        if (options == 3) {
            check(foldedFind == sqlContains, "the folded copies agree with the SQL function");
        }
    }
    return 0;
}
