#pragma once

#include <optional>

#include <QString>
#include <QStringList>

#include "store/OpeningNotice.h"
#include "store/RealmConfiguration.h"
#include "store/SqliteDatabase.h"

namespace orvo {

// Opens the catalogue's file: a new file gets the schema, a file of the layout before the
// folded copies is brought up to date, and an unreadable one is set aside (never overwritten
// or deleted) for a fresh file. When the file cannot be used, the records go to a pending
// file beside it ("<file>.pending"), and in memory when even that cannot be had. A start
// that opens the catalogue adds the records of a pending file to it and removes the file.
class RealmFile {
public:
    struct Opened {
        SqliteDatabase database;
        // Empty when the catalogue is the user's file as it was.
        std::optional<OpeningNotice> notice;
    };

    static Opened open(const RealmConfiguration& configuration);
    static QString pendingPath(const QString& cataloguePath);

    // The whole-file check at open reads every page: gigabytes for years of transcripts. A file
    // closed by this program is stamped as it was left (size, time, SQLite's header); the next
    // open that finds it so skips the check. The stamp is taken away at every open, so that a
    // session that does not end well leaves none. Call with the connection closed.
    static void stampClosed(const QString& path);

private:
    // Whether the file is as its stamp says, which is then taken away.
    static bool takeStamp(const QString& path);
    static QString stampPath(const QString& path);
    static QByteArray stampOf(const QString& path);

    struct Attempt {
        std::optional<SqliteDatabase> database;
        // Why the file as it was could not be used.
        QString problem;
        // Where the unreadable file went; empty when it stayed.
        QString movedTo;
    };

    // Opens and prepares the file; one that cannot be read is set aside for a fresh file.
    static Attempt openOrSetAside(const QString& path, const RealmConfiguration& configuration);
    // Opens and prepares one file. Throws StoreError.
    static SqliteDatabase openPrepared(const QString& path,
                                       const RealmConfiguration& configuration);
    // Prepares an open database and checks its schema, and its structure unless it was left
    // so by this program; throws StoreError when it is not ours.
    static void prepare(SqliteDatabase& db, const RealmConfiguration& configuration,
                        bool unchanged = false);
    // Cuts a file that a rolled-back write left longer back to the size it came with.
    static void restoreSize(const QString& path, qint64 size);
    // Moves the file and its journals to a new name, cut back first to the size it came with
    // (what it was before this program opened it); the name, or none when it failed.
    static std::optional<QString> setAside(const QString& path, qint64 sizeAsCame);
    // Throws StoreError (SQLITE_CORRUPT) when SQLite's integrity check finds damage.
    static void checkStructure(SqliteDatabase& db);
    // Whether the file's header asks for a writer newer than SQLite's own format.
    static bool asksForNewerWriter(SqliteDatabase& db);
    static void probeWrite(SqliteDatabase& db);
    static void checkEncoding(SqliteDatabase& db);
    static QStringList tableColumns(SqliteDatabase& db);
    // What a file that passed the checks still needs, judged before anything is written.
    struct Mending {
        enum class Index { keep, add, makeAgain, rebuildUnreadable };
        bool addFoldedCopies = false;
        bool refoldMarkedTexts = false;
        Index index = Index::keep;
    };
    // Makes the changes in one transaction. Throws StoreError, having changed nothing.
    static void mend(SqliteDatabase& db, const Mending& mending);
    // Brings a file of the layout before the folded copies up to date; how many records were
    // filled, none when another process had done it.
    static std::optional<int> addFoldedCopies(SqliteDatabase& db);
    // Whether some texts begin with U+FFFE: their folded copies were stored byte-swapped while
    // the folding answered SQLite in UTF-16, which SQLite read as a byte order mark.
    static bool hasMarkedTexts(SqliteDatabase& db);
    // Folds those copies again.
    static void refoldMarkedTexts(SqliteDatabase& db);
    // Adds the records of a pending file to the opened catalogue and removes the file; what
    // the user must know of it goes into the notice.
    static void addBackPending(Opened& opened, const RealmConfiguration& configuration);
    // Copies the records whose file name the catalogue does not hold yet, in one
    // transaction; how many. Throws StoreError.
    static int copyNewRecords(SqliteDatabase& from, SqliteDatabase& to);
};

} // namespace orvo
