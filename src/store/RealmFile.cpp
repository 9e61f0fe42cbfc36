#include "store/RealmFile.h"

#include <memory>
#include <vector>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QtDebug>
#include <sqlite3.h>

#include "shell/Logging.h"
#include "store/RecordFields.h"
#include "store/RecordTableSql.h"
#include "store/SearchIndex.h"
#include "store/TextFolding.h"

namespace orvo {
namespace {

// StoreError code of a database whose schema is not the configured one.
constexpr int schemaMismatch = -1;
// Long enough for a reader such as the sqlite3 tool to finish, short enough for the UI.
constexpr int busyTimeoutMs = 250;
// Every page read through the map stays in the program's resident size, and the check at open
// reads the whole file: years of transcripts and their index are gigabytes.
constexpr qint64 mmapBytes = 64LL * 1024 * 1024;

bool isUnreadable(int code) {
    const int primary = code & 0xff;
    return code == schemaMismatch || primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

} // namespace

RealmFile::Opened RealmFile::open(const RealmConfiguration& configuration) {
    const QString& path = configuration.filePath;
    Attempt catalogue = openOrSetAside(path, configuration);
    if (catalogue.database) {
        Opened opened;
        opened.database = std::move(*catalogue.database);
        if (!catalogue.movedTo.isEmpty()) {
            Logging::write("Records database unreadable (" + catalogue.problem + "), moved to " +
                               catalogue.movedTo + "; starting a fresh catalogue",
                           EventLoging::error);
            opened.notice.emplace().catalogueMovedTo = catalogue.movedTo;
        }
        addBackPending(opened, configuration);
        return opened;
    }

    // The records of this run wait beside the catalogue for a start that can open it.
    OpeningNotice notice;
    notice.storage = OpeningNotice::Storage::pendingFile;
    notice.catalogueMovedTo = catalogue.movedTo;
    const QString pending = pendingPath(path);
    Attempt beside = openOrSetAside(pending, configuration);
    notice.pendingMovedTo = beside.movedTo;
    if (!beside.movedTo.isEmpty()) {
        Logging::write("Records pending file " + pending + " cannot be read (" + beside.problem +
                           "); moved to " + beside.movedTo,
                       EventLoging::error);
    }
    if (beside.database) {
        Logging::write("Records database cannot be opened (" + catalogue.problem +
                           "); recordings are kept in " + pending + " until it can be",
                       EventLoging::error);
        return Opened{std::move(*beside.database), notice};
    }
    Logging::write("Records database cannot be opened (" + catalogue.problem +
                       "; the pending file failed too: " + beside.problem +
                       "); the catalogue is kept in memory only",
                   EventLoging::error);
    notice.storage = OpeningNotice::Storage::memory;
    try {
        Opened opened{SqliteDatabase::openInMemory(), notice};
        prepare(opened.database, configuration);
        return opened;
    } catch (const StoreError& error) {
        qFatal("Records database: no memory database either: %s", error.what());
    }
}

QString RealmFile::pendingPath(const QString& cataloguePath) {
    return cataloguePath + ".pending";
}

RealmFile::Attempt RealmFile::openOrSetAside(const QString& path,
                                             const RealmConfiguration& configuration) {
    Attempt attempt;
    const qint64 sizeAsCame = QFileInfo(path).size();
    bool unreadable = false;
    try {
        attempt.database = openPrepared(path, configuration);
        return attempt;
    } catch (const StoreError& error) {
        attempt.problem = error.message();
        unreadable = isUnreadable(error.code());
    }
    if (!unreadable) {
        return attempt;
    }
    const auto aside = setAside(path, sizeAsCame);
    if (!aside) {
        attempt.problem += "; it could not be moved aside and is left untouched";
        return attempt;
    }
    attempt.movedTo = *aside;
    try {
        attempt.database = openPrepared(path, configuration);
    } catch (const StoreError& error) {
        attempt.problem += "; moved to " + *aside + ", but a fresh file failed: " + error.message();
    }
    return attempt;
}

SqliteDatabase RealmFile::openPrepared(const QString& path,
                                       const RealmConfiguration& configuration) {
    const bool unchanged = takeStamp(path);
    SqliteDatabase db = SqliteDatabase::open(path);
    prepare(db, configuration, unchanged);
    return db;
}

QString RealmFile::stampPath(const QString& path) {
    return path + ".closed";
}

QByteArray RealmFile::stampOf(const QString& path) {
    QFile file(path);
    const QFileInfo info(path);
    // SQLite's header holds the count of changes, the pages and the free list.
    constexpr qint64 headerBytes = 100;
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray header = file.read(headerBytes);
    if (header.size() != headerBytes) {
        return {};
    }
    return QByteArray::number(info.size()) + ' ' +
           QByteArray::number(info.lastModified().toMSecsSinceEpoch()) + ' ' + header.toHex();
}

bool RealmFile::takeStamp(const QString& path) {
    QFile stamp(stampPath(path));
    if (!stamp.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray stamped = stamp.readAll();
    stamp.close();
    const bool removed = QFile::remove(stampPath(path));
    // A journal left beside the file is a write that did not end.
    const QString journal = path + "-journal";
    return removed && !QFile::exists(journal) && !stamped.isEmpty() && stamped == stampOf(path);
}

void RealmFile::stampClosed(const QString& path) {
    const QByteArray stamp = stampOf(path);
    if (stamp.isEmpty() || QFile::exists(path + "-journal")) {
        return;
    }
    QFile file(stampPath(path));
    if (file.open(QIODevice::WriteOnly) && file.write(stamp) == stamp.size()) {
        return;
    }
    file.remove();
}

void RealmFile::addBackPending(Opened& opened, const RealmConfiguration& configuration) {
    const QString pending = pendingPath(configuration.filePath);
    if (!QFileInfo::exists(pending)) {
        return;
    }
    const auto notice = [&]() -> OpeningNotice& {
        if (!opened.notice) {
            opened.notice.emplace();
        }
        return *opened.notice;
    };
    int added = 0;
    {
        SqliteDatabase source;
        const qint64 sizeAsCame = QFileInfo(pending).size();
        try {
            source = openPrepared(pending, configuration);
        } catch (const StoreError& error) {
            // Its records may still be read by hand, so it is kept whole under a new name.
            const auto aside =
                isUnreadable(error.code()) ? setAside(pending, sizeAsCame) : std::nullopt;
            if (aside) {
                notice().pendingMovedTo = *aside;
            } else {
                notice().pendingNotAdded = true;
            }
            Logging::write("Records pending file " + pending + " cannot be read (" +
                               error.message() + "); " +
                               (aside ? "moved to " + *aside : "it is left for the next start"),
                           EventLoging::error);
            return;
        }
        try {
            added = copyNewRecords(source, opened.database);
        } catch (const StoreError& error) {
            notice().pendingNotAdded = true;
            Logging::write("Records pending file " + pending + " could not be added back (" +
                               error.message() + "); it is left for the next start",
                           EventLoging::error);
            return;
        }
    }
    // A file left behind by a failed removal only repeats records the catalogue skips.
    bool removed = QFile::remove(pending);
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
        if (removed && QFile::exists(pending + suffix)) {
            removed = QFile::remove(pending + suffix);
        }
    }
    Logging::write(QString("Records database: %1 records added back from %2%3")
                       .arg(added)
                       .arg(pending, removed ? "" : ", which could not be removed"),
                   removed ? EventLoging::info : EventLoging::error);
}

int RealmFile::copyNewRecords(SqliteDatabase& from, SqliteDatabase& to) {
    SqliteStatement read(from.handle(),
                         QString("SELECT %1 FROM %2 ORDER BY id")
                             .arg(RecordTableSql::fieldList(), RecordTableSql::tableName));
    to.exec("BEGIN IMMEDIATE");
    int added = 0;
    try {
        SqliteStatement known(
            to.handle(), QString("SELECT 1 FROM %1 WHERE \"%2\" = ?")
                             .arg(RecordTableSql::tableName, recordFields[fieldFileName].name));
        SqliteStatement insert(to.handle(), RecordTableSql::insertSql());
        std::vector<std::unique_ptr<SqliteStatement>> learn;
        for (const QString& sql : SearchIndex::learnSql()) {
            learn.push_back(std::make_unique<SqliteStatement>(to.handle(), sql));
        }
        while (read.step()) {
            known.bind(1, read.text(fieldFileName));
            const bool present = known.step();
            known.reset();
            if (present) {
                continue;
            }
            for (int field = 0; field < fieldCount; ++field) {
                insert.bind(field + 1,
                            RecordTableSql::columnValue(read, field, recordFields[field].kind));
            }
            insert.step();
            insert.reset();
            const qint64 rowId = sqlite3_last_insert_rowid(to.handle());
            for (const auto& statement : learn) {
                statement->bind(1, rowId);
                statement->step();
                statement->reset();
            }
            ++added;
        }
        to.exec("COMMIT");
    } catch (const StoreError&) {
        to.rollbackQuietly();
        throw;
    }
    return added;
}

void RealmFile::restoreSize(const QString& path, qint64 size) {
    // A write rolled back restores every page it touched, and a last page that came cut short
    // (a damaged file) comes back whole, padded with zeros: the padding alone goes again.
    if (QFileInfo(path).size() > size && !QFile::resize(path, size)) {
        qWarning("Records database: %s could not be cut back to the %lld bytes it came with",
                 qPrintable(path), size);
    }
}

std::optional<QString> RealmFile::setAside(const QString& path, qint64 sizeAsCame) {
    // Nothing of the old file is ever overwritten or deleted: it keeps its bytes under a new
    // name, with its journal beside it.
    restoreSize(path, sizeAsCame);
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

void RealmFile::prepare(SqliteDatabase& db, const RealmConfiguration& configuration,
                        bool unchanged) {
    sqlite3_busy_timeout(db.handle(), busyTimeoutMs);
    // A file from elsewhere may carry a schema made to harm: it cannot write to the schema
    // tables or have functions run from its views and triggers.
    sqlite3_db_config(db.handle(), SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    db.exec("PRAGMA trusted_schema = OFF");
    // The first pages (the records table's, when it was made first) are read without copying.
    db.exec(QString("PRAGMA mmap_size = %1").arg(mmapBytes));
    if (const int rc = registerSearchFunctions(db.handle()); rc != SQLITE_OK) {
        throw StoreError("registering the search function failed", rc);
    }
    if (const int rc = SearchIndex::registerOn(db.handle()); rc != SQLITE_OK) {
        throw StoreError("registering the search index failed", rc);
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
        db.exec(
            RecordTableSql::createSchemaSql(configuration.schemaVersion, SearchIndex::createSql()));
        return;
    }
    QStringList indexed = SearchIndex::tableNames() << RecordTableSql::tableName;
    indexed.sort();
    if (version != configuration.schemaVersion) {
        throw StoreError(
            QString("schema version %1, expected %2").arg(version).arg(configuration.schemaVersion),
            schemaMismatch);
    }
    if (!unchanged) {
        checkStructure(db);
    }
    checkEncoding(db);
    const QStringList columns = tableColumns(db);
    // Files from before the search index have the records table alone.
    const bool hasIndex = tables == indexed;
    if ((tables != QStringList{RecordTableSql::tableName} && !hasIndex) ||
        (columns != RecordTableSql::tableColumns(true) &&
         columns != RecordTableSql::tableColumns(false)) ||
        (hasIndex && columns != RecordTableSql::tableColumns(true))) {
        throw StoreError("tables or columns of another schema", schemaMismatch);
    }
    // Before anything is changed: a file found damaged is set aside as it came.
    probeWrite(db);
    Mending mending;
    mending.addFoldedCopies = columns != RecordTableSql::tableColumns(true);
    // A file this build closed is mended already; looking for marks reads every transcript.
    mending.refoldMarkedTexts = !unchanged && !mending.addFoldedCopies && hasMarkedTexts(db);
    if (!hasIndex) {
        mending.index = Mending::Index::add;
    } else if (!SearchIndex::isOwnDefinition(db)) {
        mending.index = Mending::Index::makeAgain;
    } else if (!SearchIndex::isReadable(db)) {
        mending.index = Mending::Index::rebuildUnreadable;
    }
    mend(db, mending);
}

void RealmFile::mend(SqliteDatabase& db, const Mending& mending) {
    // A file with nothing to mend opens while another program writes to it.
    if (!mending.addFoldedCopies && !mending.refoldMarkedTexts &&
        mending.index == Mending::Index::keep) {
        return;
    }
    // One transaction: damage found halfway sets the file aside as it came, not half mended.
    db.exec("BEGIN IMMEDIATE");
    std::optional<int> filled;
    try {
        if (mending.addFoldedCopies) {
            filled = addFoldedCopies(db);
        }
        if (mending.refoldMarkedTexts) {
            refoldMarkedTexts(db);
        }
        switch (mending.index) {
        case Mending::Index::add:
            SearchIndex::addTo(db);
            break;
        case Mending::Index::makeAgain:
            SearchIndex::makeAgain(db);
            break;
        case Mending::Index::rebuildUnreadable:
            SearchIndex::rebuildUnreadable(db);
            break;
        case Mending::Index::keep:
            if (mending.refoldMarkedTexts) {
                SearchIndex::rebuild(db);
            }
            break;
        }
        db.exec("COMMIT");
    } catch (const StoreError&) {
        db.rollbackQuietly();
        throw;
    }
    if (filled) {
        Logging::write(QString("Records database: search data added to %1 records").arg(*filled),
                       EventLoging::info);
    }
}

bool RealmFile::asksForNewerWriter(SqliteDatabase& db) {
    constexpr int writeVersionOffset = 18;
    QFile file(QString::fromUtf8(sqlite3_db_filename(db.handle(), "main")));
    const QByteArray header = file.open(QIODevice::ReadOnly) ? file.read(100) : QByteArray();
    return header.size() > writeVersionOffset && quint8(header[writeVersionOffset]) > 2;
}

void RealmFile::probeWrite(SqliteDatabase& db) {
    // The checks pass a schema whose own tables were altered (the sequence table of the
    // identifiers, renamed in its text), on which every write fails as damaged: one row written
    // and taken back finds that now. Other refusals (a read-only file) stay those of the write.
    {
        SqliteStatement extra(db.handle(), "SELECT count(*) FROM sqlite_schema "
                                           "WHERE type IN ('trigger', 'view')");
        if (extra.step() && extra.int64(0) != 0) {
            throw StoreError("triggers or views of another schema", schemaMismatch);
        }
    }
    // A transaction of its own, rolled back whole: a savepoint released outside one commits,
    // and the commit rewrites the header (its page count), so the file would no longer be the
    // one that came if it is set aside later.
    try {
        db.exec("BEGIN IMMEDIATE");
        db.exec(QString("INSERT INTO %1(\"time\") VALUES (0)").arg(RecordTableSql::tableName));
    } catch (const StoreError& error) {
        db.rollbackQuietly();
        if (isUnreadable(error.code())) {
            throw;
        }
        // SQLite keeps read-only a file whose header asks for a newer writer (its write version
        // above 2), writable as the file is: a header so altered is no catalogue of ours.
        if ((error.code() & 0xff) == SQLITE_READONLY && asksForNewerWriter(db)) {
            throw StoreError("a file format this SQLite cannot write", schemaMismatch);
        }
        return;
    }
    db.exec("ROLLBACK");
}

void RealmFile::checkStructure(SqliteDatabase& db) {
    // Damage found now sets the file aside; found later, it would fail searches and writes.
    // The quick check misses an index that disagrees with its table, which fails writes.
    SqliteStatement check(db.handle(), "PRAGMA integrity_check(1)");
    if (check.step() && check.text(0) != "ok") {
        throw StoreError("damaged: " + check.text(0), SQLITE_CORRUPT);
    }
}

void RealmFile::checkEncoding(SqliteDatabase& db) {
    // Ours are always UTF-8. SQLite reads a header field of another value as UTF-8 but later
    // refuses the columns added to an older layout, and the catalogue could never be opened.
    constexpr qint64 encodingOffset = 56;
    QFile file(QString::fromUtf8(sqlite3_db_filename(db.handle(), "main")));
    if (!file.open(QIODevice::ReadOnly) || !file.seek(encodingOffset)) {
        return;
    }
    const QByteArray field = file.read(4);
    if (field.size() == 4 && field != QByteArray("\0\0\0\1", 4)) {
        throw StoreError("text encoding of another program", schemaMismatch);
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

namespace {

// The rows with a text that begins with U+FFFE, for a WHERE clause.
QString markedTextCondition() {
    QStringList marked;
    for (int field = 0; field < fieldCount; ++field) {
        if (isTextField(field)) {
            marked << QString("substr(\"%1\", 1, 1) = char(65534)").arg(recordFields[field].name);
        }
    }
    return marked.join(" OR ");
}

// Each text's folded copy made again from it, for an UPDATE's SET.
QString foldedCopiesFilled() {
    QStringList fills;
    for (int field = 0; field < fieldCount; ++field) {
        if (isTextField(field)) {
            fills << QString("\"%1\" = orvo_fold(\"%2\")")
                         .arg(foldedColumnName(field), recordFields[field].name);
        }
    }
    return fills.join(", ");
}

} // namespace

bool RealmFile::hasMarkedTexts(SqliteDatabase& db) {
    SqliteStatement any(db.handle(), QString("SELECT 1 FROM %1 WHERE %2 LIMIT 1")
                                         .arg(RecordTableSql::tableName, markedTextCondition()));
    return any.step();
}

void RealmFile::refoldMarkedTexts(SqliteDatabase& db) {
    db.exec(QString("UPDATE %1 SET %2 WHERE %3")
                .arg(RecordTableSql::tableName, foldedCopiesFilled(), markedTextCondition()));
}

std::optional<int> RealmFile::addFoldedCopies(SqliteDatabase& db) {
    // Another process may have done it before this one took the write lock.
    if (tableColumns(db) == RecordTableSql::tableColumns(true)) {
        return std::nullopt;
    }
    for (int field = 0; field < fieldCount; ++field) {
        if (isTextField(field)) {
            db.exec(QString("ALTER TABLE %1 ADD COLUMN \"%2\" TEXT")
                        .arg(RecordTableSql::tableName, foldedColumnName(field)));
        }
    }
    db.exec(QString("UPDATE %1 SET %2").arg(RecordTableSql::tableName, foldedCopiesFilled()));
    return sqlite3_changes(db.handle());
}

} // namespace orvo
