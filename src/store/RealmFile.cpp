#include "store/RealmFile.h"

#include <QDateTime>
#include <QFile>
#include <sqlite3.h>

#include "shell/Logging.h"
#include "store/RecordFields.h"
#include "store/RecordTableSql.h"
#include "store/TextFolding.h"

namespace orvo {
namespace {

// StoreError code of a database whose schema is not the configured one.
constexpr int schemaMismatch = -1;
// Long enough for a reader such as the sqlite3 tool to finish, short enough for the UI.
constexpr int busyTimeoutMs = 250;
// Address space only; far beyond any catalogue.
constexpr qint64 mmapBytes = 1024LL * 1024 * 1024;

bool isUnreadable(int code) {
    const int primary = code & 0xff;
    return code == schemaMismatch || primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

} // namespace

RealmFile::Opened RealmFile::open(const RealmConfiguration& configuration) {
    const QString& path = configuration.filePath;
    QString problem;
    bool unreadable = false;
    try {
        Opened opened{SqliteDatabase::open(path)};
        prepare(opened.database, configuration);
        return opened;
    } catch (const StoreError& error) {
        problem = error.message();
        unreadable = isUnreadable(error.code());
    }
    if (unreadable) {
        if (const auto aside = setAside(path)) {
            try {
                Opened opened{SqliteDatabase::open(path)};
                prepare(opened.database, configuration);
                Logging::write("Records database unreadable (" + problem + "), moved to " + *aside +
                                   "; starting a fresh catalogue",
                               EventLoging::error);
                return opened;
            } catch (const StoreError& error) {
                problem += "; moved to " + *aside + ", but a fresh file failed: " + error.message();
            }
        } else {
            problem += "; it could not be moved aside and is left untouched";
        }
    }
    Logging::write("Records database cannot be opened (" + problem +
                       "); the catalogue is kept in memory only",
                   EventLoging::error);
    try {
        Opened opened{SqliteDatabase::openInMemory(), true};
        prepare(opened.database, configuration);
        return opened;
    } catch (const StoreError& error) {
        qFatal("Records database: no memory database either: %s", error.what());
    }
}

std::optional<QString> RealmFile::setAside(const QString& path) {
    // Nothing of the old file is ever overwritten or deleted: it keeps its bytes under a new
    // name, with its journal beside it.
    const QString base =
        path + ".unreadable-" + QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss");
    QString aside = base;
    for (int n = 2; QFile::exists(aside); ++n) {
        aside = base + "-" + QString::number(n);
    }
    bool moved = QFile::rename(path, aside);
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
        if (moved && QFile::exists(path + suffix)) {
            moved = QFile::rename(path + suffix, aside + suffix);
        }
    }
    return moved ? std::optional(aside) : std::nullopt;
}

void RealmFile::prepare(SqliteDatabase& db, const RealmConfiguration& configuration) {
    sqlite3_busy_timeout(db.handle(), busyTimeoutMs);
    // A file from elsewhere may carry a schema made to harm: it cannot write to the schema
    // tables or have functions run from its views and triggers.
    sqlite3_db_config(db.handle(), SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    db.exec("PRAGMA trusted_schema = OFF");
    // Reads through the page cache without copying: a search walks the whole file.
    db.exec(QString("PRAGMA mmap_size = %1").arg(mmapBytes));
    if (const int rc = registerSearchFunctions(db.handle()); rc != SQLITE_OK) {
        throw StoreError("registering the search function failed", rc);
    }
    qint64 version = 0;
    {
        SqliteStatement pragma(db.handle(), "PRAGMA user_version");
        if (pragma.step()) {
            version = pragma.int64(0);
        }
    }
    QStringList tables;
    {
        SqliteStatement list(db.handle(), "SELECT name FROM sqlite_schema WHERE type = 'table' "
                                          "AND name NOT LIKE 'sqlite_%' ORDER BY name");
        while (list.step()) {
            tables << list.text(0);
        }
    }
    if (version == 0 && tables.isEmpty()) {
        db.exec(RecordTableSql::createSchemaSql(configuration.schemaVersion));
        return;
    }
    if (version != configuration.schemaVersion) {
        throw StoreError(
            QString("schema version %1, expected %2").arg(version).arg(configuration.schemaVersion),
            schemaMismatch);
    }
    checkStructure(db);
    const QStringList columns = tableColumns(db);
    if (tables != QStringList{RecordTableSql::tableName} ||
        (columns != RecordTableSql::tableColumns(true) &&
         columns != RecordTableSql::tableColumns(false))) {
        throw StoreError("tables or columns of another schema", schemaMismatch);
    }
    if (columns != RecordTableSql::tableColumns(true)) {
        addFoldedCopies(db);
    }
}

void RealmFile::checkStructure(SqliteDatabase& db) {
    // Damage found now sets the file aside; found later, it would fail searches and writes.
    // The quick check misses an index that disagrees with its table, which fails writes.
    SqliteStatement check(db.handle(), "PRAGMA integrity_check(1)");
    if (check.step() && check.text(0) != "ok") {
        throw StoreError("damaged: " + check.text(0), SQLITE_CORRUPT);
    }
}

QStringList RealmFile::tableColumns(SqliteDatabase& db) {
    QStringList columns;
    SqliteStatement info(db.handle(),
                         QString("PRAGMA table_info(%1)").arg(RecordTableSql::tableName));
    while (info.step()) {
        columns << info.text(1);
    }
    return columns;
}

void RealmFile::addFoldedCopies(SqliteDatabase& db) {
    db.exec("BEGIN IMMEDIATE");
    try {
        // Another process may have done it while this one waited for the lock.
        if (tableColumns(db) != RecordTableSql::tableColumns(true)) {
            QStringList fills;
            for (int field = 0; field < fieldCount; ++field) {
                if (isTextField(field)) {
                    db.exec(QString("ALTER TABLE %1 ADD COLUMN \"%2\" TEXT")
                                .arg(RecordTableSql::tableName, foldedColumnName(field)));
                    fills << QString("\"%1\" = orvo_fold(\"%2\")")
                                 .arg(foldedColumnName(field), recordFields[field].name);
                }
            }
            db.exec(QString("UPDATE %1 SET %2").arg(RecordTableSql::tableName, fills.join(", ")));
            const int filled = sqlite3_changes(db.handle());
            Logging::write(QString("Records database: search data added to %1 records").arg(filled),
                           EventLoging::info);
        }
        db.exec("COMMIT");
    } catch (const StoreError&) {
        if (!db.isAutocommit()) {
            // When this fails too, SQLite has already rolled back; the first error tells why.
            sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        }
        throw;
    }
}

} // namespace orvo
