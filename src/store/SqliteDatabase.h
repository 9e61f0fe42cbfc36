#pragma once

#include <memory>
#include <stdexcept>
#include <string_view>

#include <QByteArray>
#include <QString>
#include <QVariant>

struct sqlite3;
struct sqlite3_stmt;

namespace orvo {

// A failure reported by SQLite, with its result code.
class StoreError : public std::runtime_error {
public:
    StoreError(const QString& message, int code);
    QString message() const { return QString::fromUtf8(what()); }
    int code() const { return code_; }

private:
    int code_;
};

// One prepared statement. Finalised on destruction; must not outlive its connection's use
// (the connection is closed with sqlite3_close_v2, which waits for the last statement).
class SqliteStatement {
public:
    SqliteStatement(sqlite3* db, const QString& sql);

    // Binds by 1-based index: null, bool, integers, doubles, strings, date-times (as
    // milliseconds since the epoch).
    void bind(int index, const QVariant& value);
    // Binds a pointer that only an SQL function asking for this type sees (sqlite3_bind_pointer).
    void bindPointer(int index, void* pointer, const char* type);
    // True while a row is available; false when done. Throws StoreError.
    bool step();
    // Ready for new bindings and a new run.
    void reset();

    bool isNull(int column) const;
    qint64 int64(int column) const;
    double real(int column) const;
    QString text(int column) const;
    QByteArray bytes(int column) const;
    // The UTF-8 bytes of a column without a copy, valid until the next step or reset.
    std::string_view textView(int column) const;

private:
    struct Finalize {
        void operator()(sqlite3_stmt* statement) const;
    };
    sqlite3* db_;
    std::unique_ptr<sqlite3_stmt, Finalize> statement_;
};

// One connection, used by one thread at a time. Move-only; closed on destruction.
class SqliteDatabase {
public:
    // No connection.
    SqliteDatabase() = default;
    // Opens or creates the file for reading and writing. Throws StoreError.
    static SqliteDatabase open(const QString& path);
    static SqliteDatabase openInMemory();

    sqlite3* handle() const { return db_.get(); }
    // Runs statements without results. Throws StoreError.
    void exec(const QString& sql);
    // False while a transaction is open.
    bool isAutocommit() const;
    // Ends a failed transaction, if one is open; the first error tells why it failed, so this
    // one's own is not reported.
    void rollbackQuietly();

private:
    struct Close {
        void operator()(sqlite3* db) const;
    };
    explicit SqliteDatabase(sqlite3* db) : db_(db) {}
    std::unique_ptr<sqlite3, Close> db_;
};

} // namespace orvo
