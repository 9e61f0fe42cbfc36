#include "store/SqliteDatabase.h"

#include <QDateTime>
#include <sqlite3.h>

namespace orvo {
namespace {

QString errorText(sqlite3* db, const QString& what) {
    return what + ": " + QString::fromUtf8(sqlite3_errmsg(db));
}

} // namespace

StoreError::StoreError(const QString& message, int code)
    : std::runtime_error(message.toStdString()), code_(code) {}

void SqliteStatement::Finalize::operator()(sqlite3_stmt* statement) const {
    sqlite3_finalize(statement);
}

SqliteStatement::SqliteStatement(sqlite3* db, const QString& sql) : db_(db) {
    const QByteArray utf8 = sql.toUtf8();
    sqlite3_stmt* statement = nullptr;
    const int rc = sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &statement, nullptr);
    statement_.reset(statement);
    if (rc != SQLITE_OK) {
        throw StoreError(errorText(db, "prepare failed"), rc);
    }
}

void SqliteStatement::bindPointer(int index, void* pointer, const char* type) {
    if (const int rc = sqlite3_bind_pointer(statement_.get(), index, pointer, type, nullptr);
        rc != SQLITE_OK) {
        throw StoreError(errorText(db_, "bind failed"), rc);
    }
}

void SqliteStatement::bind(int index, const QVariant& value) {
    sqlite3_stmt* s = statement_.get();
    int rc = SQLITE_OK;
    switch (value.typeId()) {
    case QMetaType::UnknownType:
    case QMetaType::Nullptr:
        rc = sqlite3_bind_null(s, index);
        break;
    case QMetaType::Bool:
        rc = sqlite3_bind_int(s, index, value.toBool() ? 1 : 0);
        break;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
        rc = sqlite3_bind_int64(s, index, value.toLongLong());
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        rc = sqlite3_bind_double(s, index, value.toDouble());
        break;
    case QMetaType::QDateTime:
        rc = sqlite3_bind_int64(s, index, value.toDateTime().toMSecsSinceEpoch());
        break;
    default:
        if (value.isNull()) {
            rc = sqlite3_bind_null(s, index);
        } else {
            const QByteArray utf8 = value.toString().toUtf8();
            rc = sqlite3_bind_text(s, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        }
        break;
    }
    if (rc != SQLITE_OK) {
        throw StoreError(errorText(db_, "bind failed"), rc);
    }
}

bool SqliteStatement::step() {
    const int rc = sqlite3_step(statement_.get());
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc == SQLITE_DONE) {
        return false;
    }
    // The statement is reset so that a failed run does not keep its locks.
    sqlite3_reset(statement_.get());
    throw StoreError(errorText(db_, "step failed"), rc);
}

void SqliteStatement::reset() {
    sqlite3_reset(statement_.get());
    sqlite3_clear_bindings(statement_.get());
}

bool SqliteStatement::isNull(int column) const {
    return sqlite3_column_type(statement_.get(), column) == SQLITE_NULL;
}

qint64 SqliteStatement::int64(int column) const {
    return sqlite3_column_int64(statement_.get(), column);
}

double SqliteStatement::real(int column) const {
    return sqlite3_column_double(statement_.get(), column);
}

QString SqliteStatement::text(int column) const {
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(statement_.get(), column));
    return QString::fromUtf8(data, sqlite3_column_bytes(statement_.get(), column));
}

QByteArray SqliteStatement::bytes(int column) const {
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(statement_.get(), column));
    return QByteArray(data, sqlite3_column_bytes(statement_.get(), column));
}

std::string_view SqliteStatement::textView(int column) const {
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(statement_.get(), column));
    return data == nullptr ? std::string_view()
                           : std::string_view(
                                 data, std::size_t(sqlite3_column_bytes(statement_.get(), column)));
}

void SqliteDatabase::Close::operator()(sqlite3* db) const {
    sqlite3_close_v2(db);
}

SqliteDatabase SqliteDatabase::open(const QString& path) {
    sqlite3* db = nullptr;
    // A connection is used by one thread only: SQLite's own lock around every call is waste,
    // taken for each row a search steps through.
    const int rc =
        sqlite3_open_v2(path.toUtf8().constData(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    SqliteDatabase database(db);
    if (rc != SQLITE_OK) {
        throw StoreError(db != nullptr ? errorText(db, "open failed") : "open failed", rc);
    }
    sqlite3_extended_result_codes(db, 1);
    return database;
}

SqliteDatabase SqliteDatabase::openInMemory() {
    return open(":memory:");
}

void SqliteDatabase::exec(const QString& sql) {
    char* message = nullptr;
    const int rc = sqlite3_exec(db_.get(), sql.toUtf8().constData(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        const QString text = message != nullptr ? QString::fromUtf8(message) : QString();
        sqlite3_free(message);
        throw StoreError(sql.section(' ', 0, 1) + " failed: " + text, rc);
    }
}

bool SqliteDatabase::isAutocommit() const {
    return sqlite3_get_autocommit(db_.get()) != 0;
}

void SqliteDatabase::rollbackQuietly() {
    if (!isAutocommit()) {
        // When this fails too, SQLite has already rolled back.
        sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

} // namespace orvo
