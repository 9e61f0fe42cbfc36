#include "store/Realm.h"

#include <stdexcept>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "shell/API.h"
#include "shell/CopyFiles.h"
#include "shell/Logging.h"
#include "store/RecordFields.h"
#include "store/SqliteDatabase.h"
#include "support/TestFiles.h"
#include "unit/store/StoreTestSupport.h"

namespace orvo {
namespace {

using test::ChangeRecorder;
using test::makeRecord;
using test::namesOf;
using Kind = CollectionChange::Kind;

struct Expected {
    std::vector<int> deletions;
    std::vector<int> insertions;
    std::vector<int> modifications;
};

void expectUpdate(const CollectionChange& change, const Expected& expected) {
    EXPECT_EQ(change.kind, Kind::update);
    EXPECT_EQ(change.deletions, expected.deletions);
    EXPECT_EQ(change.insertions, expected.insertions);
    EXPECT_EQ(change.modifications, expected.modifications);
}

class RealmTest : public test::RealmFileTest {
protected:
    // Four records, newest first: D(40) C(30) B(20) A(10).
    void SetUp() override {
        RealmFileTest::SetUp();
        for (const auto& [name, minute] :
             std::vector<std::pair<QString, int>>{{"A", 10}, {"B", 20}, {"C", 30}, {"D", 40}}) {
            records[name] = save(name, minute);
        }
    }
    Results newestFirst() { return store->objects().sorted("time", false); }

    std::map<QString, std::shared_ptr<RealmRecordModel>> records;
};

TEST_F(RealmTest, InitialNotificationComesFirstAndObservationEndsWithItsToken) {
    const Results results = newestFirst();
    std::vector<CollectionChange> seen;
    auto token = results.observe([&](const CollectionChange& change) { seen.push_back(change); });
    // A write before the initial notification is part of what the initial one shows.
    ASSERT_TRUE(store->write([&] { store->add(makeRecord("E", 50)); }));
    EXPECT_TRUE(seen.empty());
    QCoreApplication::processEvents();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].kind, Kind::initial);
    EXPECT_EQ(namesOf(results), (QStringList{"E", "D", "C", "B", "A"}));

    // Other observers go on.
    ChangeRecorder first(results);
    ChangeRecorder second(results);
    first.stop();
    ASSERT_TRUE(store->write([&] { records["A"]->setNote("x"); }));
    EXPECT_EQ(first.changes.size(), 1u);
    EXPECT_EQ(second.changes.size(), 2u);
}

TEST_F(RealmTest, InsertionsDeletionsAndModificationsUseOldAndNewIndexes) {
    const Results results = newestFirst();
    ChangeRecorder recorder(results);

    ASSERT_TRUE(store->write([&] { store->add(makeRecord("BC", 25)); }));
    EXPECT_EQ(namesOf(results), (QStringList{"D", "C", "BC", "B", "A"}));
    ASSERT_TRUE(store->write([&] { store->remove(records["D"]); }));
    ASSERT_TRUE(store->write([&] { records["B"]->setNote("call back"); }));
    // Mixed: delete C (old 0), add a newest record, change A (new 3), add an oldest one.
    ASSERT_TRUE(store->write([&] {
        store->remove(records["C"]);
        store->add(makeRecord("F", 60));
        records["A"]->setFavorite(true);
        store->add(makeRecord("Z", 1));
    }));

    ASSERT_EQ(recorder.changes.size(), 5u);
    expectUpdate(recorder.changes[1], {{}, {2}, {}});
    expectUpdate(recorder.changes[2], {{0}, {}, {}});
    expectUpdate(recorder.changes[3], {{}, {}, {2}});
    expectUpdate(recorder.changes[4], {{0}, {0, 4}, {3}});
    EXPECT_EQ(namesOf(results), (QStringList{"F", "BC", "B", "A", "Z"}));
    EXPECT_TRUE(records["D"]->isInvalidated());
    EXPECT_FALSE(records["D"]->isManaged());
}

TEST_F(RealmTest, ModificationThatMovesARowIsADeletionAndAnInsertion) {
    const Results results = newestFirst();
    ChangeRecorder recorder(results);
    ASSERT_TRUE(store->write([&] { records["A"]->setTime(records["D"]->time().addSecs(60)); }));
    // Two rows trading places among themselves still show the right rows when reloaded.
    ASSERT_TRUE(store->write([&] {
        const QDateTime cTime = records["C"]->time();
        records["C"]->setTime(records["B"]->time());
        records["B"]->setTime(cTime);
    }));
    ASSERT_EQ(recorder.changes.size(), 3u);
    expectUpdate(recorder.changes[1], {{3}, {0}, {}});
    expectUpdate(recorder.changes[2], {{}, {}, {2, 3}});
    EXPECT_EQ(namesOf(results), (QStringList{"A", "D", "B", "C"}));
}

TEST_F(RealmTest, FilteredResultSeesRecordsLeaveAndEnterAndNotifiesEveryWrite) {
    const Results favorites = newestFirst().filter("favorite == true");
    ChangeRecorder recorder(favorites);
    EXPECT_EQ(favorites.size(), 0);

    ASSERT_TRUE(store->write([&] { records["B"]->setFavorite(true); }));
    ASSERT_TRUE(store->write([&] { records["C"]->setFavorite(true); }));
    ASSERT_TRUE(store->write([&] { records["A"]->setNote("not a favourite"); }));
    ASSERT_TRUE(store->write([&] { records["B"]->setFavorite(false); }));
    ASSERT_TRUE(store->write([&] { store->add(makeRecord("E", 50)); }));

    ASSERT_EQ(recorder.changes.size(), 6u);
    expectUpdate(recorder.changes[1], {{}, {0}, {}});
    expectUpdate(recorder.changes[2], {{}, {0}, {}});
    expectUpdate(recorder.changes[3], {{}, {}, {}});
    expectUpdate(recorder.changes[4], {{1}, {}, {}});
    expectUpdate(recorder.changes[5], {{}, {}, {}});
    EXPECT_EQ(namesOf(favorites), (QStringList{"C"}));
}

TEST_F(RealmTest, EveryHolderSeesTheSameLiveObject) {
    const Results byTime = newestFirst();
    const Results byName = store->objects().sorted("name");
    const auto fromTime = byTime.at(3);
    const auto fromName = byName.at(0);
    ASSERT_NE(fromTime, nullptr);
    EXPECT_EQ(fromTime.get(), fromName.get());
    EXPECT_EQ(fromTime.get(), records["A"].get());
    ASSERT_TRUE(store->write([&] { fromTime->setName("Renamed"); }));
    EXPECT_EQ(fromName->name(), "Renamed");
    EXPECT_EQ(byTime.indexOf(*records["D"]), 0);
    EXPECT_EQ(byTime.at(4), nullptr);
    EXPECT_EQ(byTime.at(-1), nullptr);
}

TEST_F(RealmTest, ExceptionInsideAWriteRollsBackFileAndObjects) {
    const Results results = newestFirst();
    ChangeRecorder recorder(results);
    const auto added = makeRecord("New", 70);
    std::optional<Results> readInside;
    EXPECT_THROW(store->write([&] {
        records["A"]->setName("Changed");
        records["A"]->setSocialIM(QString("Skype"));
        store->remove(records["B"]);
        store->add(added);
        readInside = newestFirst();
        EXPECT_EQ(readInside->size(), 4);
        throw std::runtime_error("stop");
    }),
                 std::runtime_error);
    // A result read inside the write forgets its rows; unsorted ones keep the insertion order.
    EXPECT_EQ(namesOf(*readInside), (QStringList{"D", "C", "B", "A"}));
    EXPECT_EQ(namesOf(store->objects()), (QStringList{"A", "B", "C", "D"}));

    EXPECT_EQ(records["A"]->name(), "A");
    EXPECT_FALSE(records["A"]->socialIM().has_value());
    EXPECT_FALSE(records["B"]->isInvalidated());
    EXPECT_TRUE(records["B"]->isManaged());
    EXPECT_FALSE(added->isManaged());
    EXPECT_EQ(recorder.changes.size(), 1u);
    EXPECT_EQ(namesOf(results), (QStringList{"D", "C", "B", "A"}));
    EXPECT_EQ(test::sqliteCli(path(), "SELECT group_concat(name) FROM RealmRecordModel"),
              "A,B,C,D");
    // The rolled-back objects are usable in the next write.
    ASSERT_TRUE(store->write([&] {
        records["B"]->setNote("kept");
        store->add(added);
    }));
    EXPECT_EQ(namesOf(results), (QStringList{"New", "D", "C", "B", "A"}));
}

TEST_F(RealmTest, RolledBackWriteLeavesTheSearchAsItWas) {
    const QString search = "name contains[cd] %@ || recognizeText contains[cd] %@";
    const Results found = newestFirst().filter(search, {"uber", "uber"});
    ChangeRecorder recorder(found);
    EXPECT_THROW(store->write([&] {
        records["A"]->setName("Über");
        records["B"]->setRecognizeText("ÜBER alles");
        store->add(makeRecord("Über neu", 70));
        throw std::runtime_error("stop");
    }),
                 std::runtime_error);
    EXPECT_EQ(namesOf(found), QStringList{});
    EXPECT_EQ(namesOf(newestFirst().filter(search, {"uber", "uber"})), QStringList{});
    EXPECT_EQ(namesOf(newestFirst().filter(search, {"a", "a"})), QStringList{"A"});
    EXPECT_EQ(recorder.changes.size(), 1u);

    ASSERT_TRUE(store->write([&] { records["C"]->setName("Über"); }));
    ASSERT_EQ(recorder.changes.size(), 2u);
    expectUpdate(recorder.changes[1], {{}, {0}, {}});
    EXPECT_EQ(namesOf(newestFirst().filter(search, {"uber", "uber"})), QStringList{"Über"});
}

TEST_F(RealmTest, FailedCommitRollsBackAndIsLogged) {
    CopyFiles::checkFilesAndCopy();
    // Another connection reading the file keeps the commit from taking its exclusive lock.
    SqliteDatabase reader = SqliteDatabase::open(path());
    reader.exec("BEGIN");
    SqliteStatement count(reader.handle(), "SELECT count(*) FROM RealmRecordModel");
    ASSERT_TRUE(count.step());
    EXPECT_EQ(count.int64(0), 4);

    const Results results = newestFirst();
    ChangeRecorder recorder(results);
    const bool committed = store->write([&] {
        records["A"]->setNote("lost");
        store->add(makeRecord("E", 50));
    });
    count.reset();
    reader.exec("COMMIT");

    EXPECT_FALSE(committed);
    EXPECT_EQ(records["A"]->note(), "");
    EXPECT_EQ(namesOf(results), (QStringList{"D", "C", "B", "A"}));
    EXPECT_EQ(recorder.changes.size(), 1u);
    const QStringList log = test::readLines(Logging::dayFilePath(QDateTime::currentDateTime()));
    ASSERT_FALSE(log.isEmpty());
    EXPECT_TRUE(log.last().contains("Event: error Value: Records database write failed"))
        << log.last().toStdString();
    // The file is unharmed and the next write goes through.
    EXPECT_TRUE(store->write([&] { records["A"]->setNote("kept"); }));
    EXPECT_EQ(test::sqliteCli(path(), "SELECT note FROM RealmRecordModel WHERE name = 'A'"),
              "kept");
}

TEST_F(RealmTest, NestedWriteIsRefusedAndTheOuterOneCompletes) {
    bool innerRan = false;
    bool nested = true;
    ASSERT_TRUE(store->write([&] {
        nested = store->write([&] { innerRan = true; });
        records["A"]->setNote("outer");
    }));
    EXPECT_FALSE(nested);
    EXPECT_FALSE(innerRan);
    EXPECT_EQ(records["A"]->note(), "outer");
}

TEST_F(RealmTest, StoredRecordCannotChangeOutsideAWrite) {
#ifdef QT_NO_DEBUG
    records["A"]->setName("sneaky");
    EXPECT_EQ(records["A"]->name(), "A");
    ASSERT_TRUE(store->write([&] { store->remove(records["B"]); }));
    records["B"]->setName("ghost");
    EXPECT_EQ(records["B"]->name(), "B");
    EXPECT_EQ(test::sqliteCli(path(), "SELECT count(*) FROM RealmRecordModel "
                                      "WHERE name IN ('sneaky', 'ghost')"),
              "0");
#else
    EXPECT_DEATH(records["A"]->setName("sneaky"), "outside a write");
#endif
}

TEST_F(RealmTest, ObserverWritingInsideANotificationKeepsTheOrderOfWrites) {
    const Results results = newestFirst();
    std::vector<std::vector<int>> firstSaw;
    std::vector<std::vector<int>> secondSaw;
    bool reacted = false;
    auto first = results.observe([&](const CollectionChange& change) {
        firstSaw.push_back(change.insertions);
        if (change.kind == Kind::update && !reacted) {
            reacted = true;
            store->write([&] { store->add(makeRecord("Reaction", 5)); });
        }
    });
    auto second = results.observe(
        [&](const CollectionChange& change) { secondSaw.push_back(change.insertions); });
    QCoreApplication::processEvents();
    ASSERT_TRUE(store->write([&] { store->add(makeRecord("E", 50)); }));
    const std::vector<std::vector<int>> expected{{}, {0}, {5}};
    EXPECT_EQ(firstSaw, expected);
    EXPECT_EQ(secondSaw, expected);
}

TEST_F(RealmTest, ReopenedFileHasEveryFieldAsWritten) {
    auto full =
        std::make_shared<RealmRecordModel>("Ünïcode name", "79161234567", "20240501100000.mov",
                                           QDateTime(QDate(2024, 5, 1), QTime(10, 0, 0, 123)), 12.5,
                                           RecordType::video, QString("Telegram"), 3.25);
    ASSERT_TRUE(store->write([&] {
        store->add(full);
        full->setFavorite(true);
        full->setNote("note");
        full->setRecognizeText("text");
    }));
    const RecordValues written = full->values();
    close();
    EXPECT_TRUE(full->isInvalidated());
    open();
    const Results results = store->objects().filter("fileName == %@", {written.fileName});
    ASSERT_EQ(results.size(), 1);
    const RecordValues read = results.at(0)->values();
    for (int field = 0; field < fieldCount; ++field) {
        EXPECT_EQ(read.value(field), written.value(field)) << recordFields[field].name;
    }
    EXPECT_EQ(read.time.toMSecsSinceEpoch(), written.time.toMSecsSinceEpoch());
    EXPECT_FALSE(store->objects().filter("name == 'A'").at(0)->socialIM().has_value());
    EXPECT_EQ(test::sqliteCli(path(), "PRAGMA user_version"), "1");
    EXPECT_EQ(test::sqliteCli(path(), "PRAGMA integrity_check"), "ok");
}

class UnreadableFileTest : public test::RealmFileTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        CopyFiles::checkFilesAndCopy();
    }
    QStringList asideFiles() const {
        return QDir(folder.path()).entryList({"records.realm.unreadable-*"}, QDir::Files);
    }
    void expectMovedAsideAndFresh(const QByteArray& original) {
        open();
        const QStringList aside = asideFiles();
        ASSERT_EQ(aside.size(), 1);
        EXPECT_EQ(test::readFile(folder.filePath(aside[0])), original);
        EXPECT_FALSE(store->isInMemory());
        ASSERT_TRUE(store->openingNotice().has_value());
        EXPECT_EQ(store->openingNotice()->storage, OpeningNotice::Storage::catalogue);
        EXPECT_EQ(store->openingNotice()->catalogueMovedTo, folder.filePath(aside[0]));
        EXPECT_EQ(store->objects().size(), 0);
        save("fresh", 1);
        EXPECT_EQ(test::sqliteCli(path(), "PRAGMA integrity_check"), "ok");
        EXPECT_EQ(test::sqliteCli(path(), "SELECT name FROM RealmRecordModel"), "fresh");
        const QStringList log = test::readLines(Logging::dayFilePath(QDateTime::currentDateTime()));
        ASSERT_FALSE(log.isEmpty());
        EXPECT_TRUE(log.last().contains("Event: error Value: Records database unreadable"));
        EXPECT_TRUE(log.last().contains(aside[0])) << log.last().toStdString();
    }
};

// A file the program closed opens next time without reading every page; the stamp that says
// so goes at every open, and a file changed since, by anyone, is checked whole again.
TEST_F(UnreadableFileTest, AFileChangedSinceTheProgramClosedItIsCheckedWholeAgain) {
    const QString stamp = path() + ".closed";
    open();
    save("kept", 1);
    close();
    EXPECT_TRUE(QFileInfo::exists(stamp));
    open();
    EXPECT_FALSE(QFileInfo::exists(stamp));
    EXPECT_FALSE(store->openingNotice().has_value());
    EXPECT_EQ(namesOf(store->objects()), QStringList{"kept"});
    close();
    // The time index, said to be of another column, no longer agrees with its table: only the
    // whole check sees that.
    test::sqliteCli(path(),
                    "PRAGMA writable_schema = ON; UPDATE sqlite_schema SET sql = "
                    "'CREATE INDEX RealmRecordModel_time ON RealmRecordModel(\"duration\")' "
                    "WHERE name = 'RealmRecordModel_time'");
    EXPECT_NE(test::sqliteCli(path(), "PRAGMA integrity_check"), "ok");
    expectMovedAsideAndFresh(test::readFile(path()));
}

TEST_F(UnreadableFileTest, AFileThatIsNoDatabaseOrOfAnotherVersionIsMovedAsideWhole) {
    QByteArray garbage(64 * 1024, '\0');
    for (int i = 0; i < garbage.size(); ++i) {
        garbage[i] = char((i * 7919) % 251);
    }
    test::writeFile(path(), garbage);
    expectMovedAsideAndFresh(garbage);

    close();
    for (const QString& file : QDir(folder.path()).entryList(QDir::Files)) {
        QFile::remove(folder.filePath(file));
    }
    test::sqliteCli(path(), "CREATE TABLE RealmRecordModel (id INTEGER); "
                            "INSERT INTO RealmRecordModel VALUES (7); PRAGMA user_version = 2;");
    const QByteArray original = test::readFile(path());
    expectMovedAsideAndFresh(original);
    ASSERT_EQ(asideFiles().size(), 1);
    EXPECT_EQ(test::sqliteCli(folder.filePath(asideFiles()[0]), "SELECT id FROM RealmRecordModel"),
              "7");
}

TEST_F(UnreadableFileTest, ForeignTablesAtVersionZeroAreMovedAsideAndEmptyFileIsUsed) {
    test::sqliteCli(path(), "CREATE TABLE other (x);");
    expectMovedAsideAndFresh(test::readFile(path()));

    close();
    QFile::remove(path());
    test::writeFile(path(), QByteArray());
    open();
    EXPECT_EQ(asideFiles().size(), 1);
    EXPECT_EQ(test::sqliteCli(path(), "PRAGMA user_version"), "1");
}

TEST_F(UnreadableFileTest, UnreachableFolderKeepsTheCatalogueInMemory) {
    store =
        std::make_unique<Realm>(RealmConfiguration{folder.filePath("missing/records.realm"), 1});
    EXPECT_TRUE(store->isInMemory());
    ASSERT_TRUE(store->openingNotice().has_value());
    EXPECT_EQ(store->openingNotice()->storage, OpeningNotice::Storage::memory);
    save("memory only", 1);
    EXPECT_EQ(namesOf(store->objects()), QStringList{"memory only"});
    EXPECT_FALSE(QFileInfo::exists(folder.filePath("missing")));
}

// Only searches read the index: damage to it must cost no write and no transcript. Its leaves
// cut short while the catalogue is open, a transcript's change makes it again; cut short while
// it is closed, the next open does.
TEST_F(RealmTest, ADamagedSearchIndexIsMadeAgainAndEveryTranscriptIsFound) {
    const auto older = save("Older", 1);
    const auto newer = save("Newer", 2);
    ASSERT_TRUE(store->write([&] {
        older->setRecognizeText("You: the budget for the contract");
        newer->setRecognizeText("Them: a meeting tomorrow");
    }));
    const auto damage = [&] {
        for (const QString table : {"RecordTextRuns_data", "RecordTextPhrases_data"}) {
            test::sqliteCli(path(), "UPDATE " + table + " SET block = x'01' WHERE id > 10");
        }
    };
    const auto newestFirst = [&](const QString& needle) {
        return namesOf(store->objects()
                           .filter("recognizeText contains[cd] %@", {needle})
                           .sorted("time", false));
    };
    damage();
    ASSERT_TRUE(store->write([&] { newer->setRecognizeText("Them: a meeting on Friday"); }));
    close();
    damage();
    open();
    for (const QString& needle : {QString("friday"), QString("ee"), QString("A MEETING ON")}) {
        EXPECT_EQ(newestFirst(needle), QStringList{"Newer"}) << needle.toStdString();
    }
    for (const QString& needle : {QString("budg"), QString("the contract")}) {
        EXPECT_EQ(newestFirst(needle), QStringList{"Older"}) << needle.toStdString();
    }
    EXPECT_EQ(newestFirst("tomorrow"), QStringList());
}

// A catalogue of the layout without folded copies of the texts.
class EarlierLayoutTest : public test::RealmFileTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        CopyFiles::checkFilesAndCopy();
        // The statements that make a new file of that layout, then three records.
        test::sqliteCli(
            path(),
            "BEGIN; CREATE TABLE RealmRecordModel (id INTEGER PRIMARY KEY AUTOINCREMENT, "
            "\"name\" TEXT NOT NULL DEFAULT '', \"fromPhone\" TEXT NOT NULL DEFAULT '', "
            "\"time\" INTEGER NOT NULL, \"symbol\" TEXT NOT NULL DEFAULT '', "
            "\"fileName\" TEXT NOT NULL DEFAULT '', \"favorite\" INTEGER NOT NULL DEFAULT 0, "
            "\"duration\" REAL NOT NULL DEFAULT 0, \"recognizeText\" TEXT NOT NULL DEFAULT '', "
            "\"designeID\" INTEGER NOT NULL DEFAULT 0, \"typeRecord\" TEXT NOT NULL DEFAULT '', "
            "\"note\" TEXT NOT NULL DEFAULT '', \"socialIM\" TEXT, "
            "\"size\" REAL NOT NULL DEFAULT 0); "
            "CREATE INDEX RealmRecordModel_time ON RealmRecordModel(\"time\"); "
            "PRAGMA user_version = 1; COMMIT; "
            "INSERT INTO RealmRecordModel (id, name, time, recognizeText, favorite, socialIM) "
            "VALUES (7, 'Meeting über plans', 1000, '', 0, NULL), "
            "(9, 'Call', 2000, 'Jörg said ÜBER twice', 1, 'Skype'), "
            "(12, 'Plain', 3000, '', 1, NULL);");
    }
    QStringList query(const QString& predicate, const QVariantList& arguments = {}) {
        return namesOf(store->objects().filter(predicate, arguments).sorted("time"));
    }
    int migrationLines() const {
        const QStringList log = test::readLines(Logging::dayFilePath(QDateTime::currentDateTime()));
        return int(log.filter("Records database: search data added to 3 records").size());
    }
};

TEST_F(EarlierLayoutTest, OpensWithEveryRecordGainsTheSearchDataOnceAndIsSearchable) {
    const QString search = "name contains[cd] %@ || recognizeText contains[cd] %@";
    for (int round = 0; round < 2; ++round) {
        open();
        EXPECT_FALSE(store->openingNotice().has_value());
        EXPECT_EQ(QDir(folder.path()).entryList({"records.realm.unreadable-*"}).size(), 0);
        EXPECT_EQ(query(search, {"UBER", "UBER"}), (QStringList{"Meeting über plans", "Call"}));
        EXPECT_EQ(query("favorite == true AND (" + search + ")", {"jorg", "jorg"}),
                  QStringList{"Call"});
        // Newest first, as the window asks: the transcripts from the search index, a pair of
        // letters and a phrase across words.
        for (const QString& needle : {QString("jö"), QString("JORG SAID UB")}) {
            EXPECT_EQ(
                namesOf(store->objects().filter(search, {needle, needle}).sorted("time", false)),
                QStringList{"Call"});
        }
        // A record without a messenger never contains anything, so NOT keeps it.
        EXPECT_EQ(query("NOT socialIM contains[cd] 'SKY'"),
                  (QStringList{"Meeting über plans", "Plain"}));
        EXPECT_EQ(migrationLines(), 1);
        close();
    }
    EXPECT_EQ(test::sqliteCli(path(), "SELECT group_concat(id) FROM RealmRecordModel"), "7,9,12");
    EXPECT_EQ(test::sqliteCli(path(), "PRAGMA user_version"), "1");
    EXPECT_EQ(test::sqliteCli(path(), "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(test::sqliteCli(path(), "SELECT count(*) FROM sqlite_schema WHERE name LIKE "
                                      "'RecordText%' OR name = 'RealmRecordModel_search'"),
              "9");

    open();
    save("Über uns", 1);
    EXPECT_EQ(query(search, {"uber", "uber"}),
              (QStringList{"Meeting über plans", "Call", "Über uns"}));
}

// A text may begin with U+FFFE; while the folding answered SQLite in UTF-16, SQLite read that
// as a byte order mark and stored the rest of the copy byte-swapped.
TEST_F(EarlierLayoutTest, ATextBeginningWithUFFFEIsFoundAndItsSwappedCopyIsMended) {
    open();
    close();
    test::sqliteCli(path(), "UPDATE RealmRecordModel SET name = char(65534) || 'Zed', "
                            "folded_name = char(31232, 25856, 25600) WHERE id = 12");
    const QString marked(QChar(0xfffe));
    for (int round = 0; round < 2; ++round) {
        open();
        EXPECT_EQ(query("name contains[cd] %@", {"ZED"}), QStringList{marked + "Zed"});
        close();
    }
    open();
    save(marked + "Über", 4000);
    EXPECT_EQ(query("name contains[cd] %@", {marked + "UBER"}), QStringList{marked + "Über"});
    EXPECT_EQ(query("name contains[cd] %@", {"uber"}),
              (QStringList{"Meeting über plans", marked + "Über"}));
}

} // namespace
} // namespace orvo
