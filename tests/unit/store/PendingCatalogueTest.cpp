// Records made while the catalogue file cannot be used wait in a pending file beside it and
// reach the catalogue at the next start that opens it, once.
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "shell/CopyFiles.h"
#include "shell/Logging.h"
#include "store/RealmFile.h"
#include "store/RecordFields.h"
#include "store/SqliteDatabase.h"
#include "support/TestFiles.h"
#include "unit/store/StoreTestSupport.h"

namespace orvo {
namespace {

using test::namesOf;
using Storage = OpeningNotice::Storage;

// Another program's connection holding a lock on a database file while it lives: EXCLUSIVE
// keeps every reader out, IMMEDIATE only the other writers.
class HeldLock {
public:
    HeldLock(const QString& path, const QString& mode) : db_(SqliteDatabase::open(path)) {
        db_.exec("BEGIN " + mode);
        // The lock of a deferred part is taken at the first read.
        db_.exec("SELECT count(*) FROM sqlite_schema");
    }
    ~HeldLock() { db_.exec("ROLLBACK"); }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;

private:
    SqliteDatabase db_;
};

class PendingCatalogueTest : public test::RealmFileTest {
protected:
    // A catalogue of A and B.
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        CopyFiles::checkFilesAndCopy();
        open();
        save("A", 10);
        save("B", 20);
        close();
    }
    QString pending() const { return RealmFile::pendingPath(path()); }
    // The names in the catalogue file as the sqlite3 tool reads it, in the order of its rows.
    QString inFile() const {
        return test::sqliteCli(path(), "SELECT group_concat(name) FROM RealmRecordModel");
    }
    int addedBackLines(int count) const {
        const QStringList log = test::readLines(Logging::dayFilePath(QDateTime::currentDateTime()));
        return int(log.filter(QString("Records database: %1 records added back from %2")
                                  .arg(count)
                                  .arg(pending()))
                       .size());
    }
    // C and D, recorded while another program holds the catalogue.
    void recordWhileLocked() {
        HeldLock lock(path(), "EXCLUSIVE");
        open();
        ASSERT_TRUE(store->openingNotice().has_value());
        EXPECT_EQ(store->openingNotice()->storage, Storage::pendingFile);
        EXPECT_EQ(store->openingNotice()->catalogueMovedTo, QString());
        EXPECT_FALSE(store->isInMemory());
        EXPECT_EQ(store->objects().size(), 0);
        auto c = save("C", 30);
        store->write([&] {
            c->setFavorite(true);
            c->setNote("kept aside");
            c->setSocialIM(QString("Telegram"));
            c->setRecognizeText("Them: the transcript made aside");
        });
        writtenC = c->values();
        save("D", 40);
        close();
        EXPECT_TRUE(QFileInfo::exists(pending()));
    }

    RecordValues writtenC;
};

TEST_F(PendingCatalogueTest, RecordsMadeWhileTheCatalogueIsLockedAreAddedBackOnce) {
    recordWhileLocked();
    EXPECT_EQ(inFile(), "A,B");

    for (int start = 0; start < 2; ++start) {
        open();
        EXPECT_FALSE(store->openingNotice().has_value());
        EXPECT_EQ(namesOf(store->objects()), (QStringList{"A", "B", "C", "D"}));
        const Results c = store->objects().filter("note contains[cd] %@", {"KEPT"});
        ASSERT_EQ(c.size(), 1);
        for (int field = 0; field < fieldCount; ++field) {
            EXPECT_EQ(c.at(0)->values().value(field), writtenC.value(field))
                << recordFields[field].name;
        }
        // As the window searches: its transcript came into the search index too.
        for (const QString& needle : {QString("ma"), QString("MADE ASIDE")}) {
            EXPECT_EQ(namesOf(store->objects()
                                  .filter("recognizeText contains[cd] %@", {needle})
                                  .sorted("time", false)),
                      QStringList{"C"});
        }
        close();
    }
    EXPECT_EQ(inFile(), "A,B,C,D");
    EXPECT_FALSE(QFileInfo::exists(pending()));
    EXPECT_FALSE(QFileInfo::exists(pending() + "-journal"));
    EXPECT_EQ(addedBackLines(2), 1);
    EXPECT_EQ(test::sqliteCli(path(), "PRAGMA integrity_check"), "ok");
}

TEST_F(PendingCatalogueTest, WriteBackInterruptedBeforeTheRemovalDoesNotDoubleRecords) {
    recordWhileLocked();
    const QString copy = folder.filePath("left-behind");
    ASSERT_TRUE(QFile::copy(pending(), copy));
    open();
    close();
    ASSERT_FALSE(QFileInfo::exists(pending()));

    // The pending file as a start that stopped after the commit left it, with one record
    // that came later.
    ASSERT_TRUE(QFile::rename(copy, pending()));
    {
        Realm later(RealmConfiguration{pending(), 1});
        auto e = test::makeRecord("E", 50);
        ASSERT_TRUE(later.write([&] { later.add(e); }));
    }
    open();
    EXPECT_EQ(namesOf(store->objects()), (QStringList{"A", "B", "C", "D", "E"}));
    EXPECT_FALSE(QFileInfo::exists(pending()));
    EXPECT_EQ(addedBackLines(1), 1);
}

TEST_F(PendingCatalogueTest, DirectoryWhereTheCatalogueBelongsIsLeftAndRecordsWaitBesideIt) {
    ASSERT_TRUE(QFile::remove(path()));
    ASSERT_TRUE(QDir().mkdir(path()));
    open();
    ASSERT_TRUE(store->openingNotice().has_value());
    EXPECT_EQ(store->openingNotice()->storage, Storage::pendingFile);
    save("E", 50);
    close();
    EXPECT_TRUE(QFileInfo(path()).isDir());

    ASSERT_TRUE(QDir().rmdir(path()));
    open();
    EXPECT_FALSE(store->openingNotice().has_value());
    EXPECT_EQ(namesOf(store->objects()), QStringList{"E"});
    EXPECT_FALSE(QFileInfo::exists(pending()));
}

TEST_F(PendingCatalogueTest, PendingFileThatCannotBeReadIsMovedAsideWhole) {
    const QByteArray garbage(4096, 'x');
    test::writeFile(pending(), garbage);
    open();
    const QStringList aside =
        QDir(folder.path()).entryList({"records.realm.pending.unreadable-*"}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(test::readFile(folder.filePath(aside[0])), garbage);
    ASSERT_TRUE(store->openingNotice().has_value());
    EXPECT_EQ(store->openingNotice()->storage, Storage::catalogue);
    EXPECT_EQ(store->openingNotice()->pendingMovedTo, folder.filePath(aside[0]));
    EXPECT_EQ(namesOf(store->objects()), (QStringList{"A", "B"}));
    EXPECT_FALSE(QFileInfo::exists(pending()));
}

TEST_F(PendingCatalogueTest, WriteBackThatCannotWriteKeepsThePendingFileForTheNextStart) {
    recordWhileLocked();
    {
        HeldLock writer(path(), "IMMEDIATE");
        open();
        ASSERT_TRUE(store->openingNotice().has_value());
        EXPECT_EQ(store->openingNotice()->storage, Storage::catalogue);
        EXPECT_TRUE(store->openingNotice()->pendingNotAdded);
        EXPECT_EQ(namesOf(store->objects()), (QStringList{"A", "B"}));
        close();
    }
    EXPECT_EQ(test::sqliteCli(pending(), "SELECT group_concat(name) FROM RealmRecordModel"), "C,D");
    open();
    EXPECT_FALSE(store->openingNotice().has_value());
    EXPECT_EQ(namesOf(store->objects()), (QStringList{"A", "B", "C", "D"}));
}

} // namespace
} // namespace orvo
