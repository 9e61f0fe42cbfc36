#pragma once

#include <QString>
#include <QStringList>

#include "store/RealmConfiguration.h"
#include "store/SqliteDatabase.h"

namespace orvo {

// Opens the catalogue's file: a new file gets the schema, a file of the layout before the
// folded copies is brought up to date, and an unreadable one is set aside (never overwritten
// or deleted) for a fresh file; when no file can be had the catalogue lives in memory.
class RealmFile {
public:
    struct Opened {
        SqliteDatabase database;
        bool inMemory = false;
    };

    static Opened open(const RealmConfiguration& configuration);

private:
    // Prepares an open database and checks its schema; throws StoreError when it is not ours.
    static void prepare(SqliteDatabase& db, const RealmConfiguration& configuration);
    // Moves the file and its journals to a new name; the name, or none when it failed.
    static std::optional<QString> setAside(const QString& path);
    // Throws StoreError (SQLITE_CORRUPT) when SQLite's integrity check finds damage.
    static void checkStructure(SqliteDatabase& db);
    static QStringList tableColumns(SqliteDatabase& db);
    // Brings a file of the layout before the folded copies up to date, in one transaction.
    static void addFoldedCopies(SqliteDatabase& db);
};

} // namespace orvo
