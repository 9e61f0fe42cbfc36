#include "store/RealmRecordModel.h"

#include <set>

#include "shell/API.h"
#include "shell/CopyFiles.h"
#include "store/RealmManager.h"
#include "store/RecordType.h"
#include "support/TestFiles.h"
#include "unit/store/StoreTestSupport.h"

namespace orvo {
namespace {

using test::ChangeRecorder;
using test::makeRecord;
using test::namesOf;

TEST(RealmRecordModel, ConvenienceInitialiserDerivesSymbolTypeAndDesign) {
    const QDateTime time(QDate(2024, 5, 1), QTime(9, 30));
    const RealmRecordModel record("john", "", "20240501093000.m4a", time, 61.5, RecordType::video,
                                  QString("Telegram"), 2.75);
    EXPECT_EQ(record.symbol(), "J");
    EXPECT_EQ(record.typeRecord(), "Video");
    EXPECT_FALSE(record.favorite());
    EXPECT_TRUE(record.note().isEmpty());
    EXPECT_FALSE(record.isManaged());

    const RealmRecordModel unnamed("", "", "x.m4a", time, 0, RecordType::audio, std::nullopt, 0);
    EXPECT_EQ(unnamed.symbol(), "");
    // A letter with a combining mark is one character; a lower-case umlaut is upper-cased.
    EXPECT_EQ(RealmRecordModel::symbolFor(QString::fromUtf8("e\xcc\x81tude")),
              QString::fromUtf8("E\xcc\x81"));
    EXPECT_EQ(RealmRecordModel::symbolFor("über"), "Ü");
    EXPECT_EQ(RealmRecordModel::symbolFor("\xf0\x9f\x98\x80 smile"), "\xf0\x9f\x98\x80");

    // The design covers zero to six only.
    std::set<int> seen;
    for (int i = 0; i < 700; ++i) {
        const int id = makeRecord("x", 0)->designeID();
        ASSERT_GE(id, 0);
        ASSERT_LE(id, 6);
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 7u);
}

TEST(RealmRecordModel, FilePathFollowsTheTypeAndNeverLeavesItsFolder) {
    const auto video = makeRecord("v", 0, RecordType::video);
    const auto audio = makeRecord("a", 0, RecordType::audio);
    EXPECT_EQ(video->filePath(), API::videoRecordsPath() + "v.m4a");
    EXPECT_EQ(audio->filePath(), API::audioRecordsPath() + "a.m4a");
    for (const QString name : {"../Realm/records.realm", "..", "", "Audio/a.m4a"}) {
        audio->setFileName(name);
        EXPECT_EQ(audio->filePath(), std::nullopt) << name.toStdString();
    }
}

// The repository works on the shared handle, opened with the default configuration on the
// records file of the test's storage tree.
class RealmManagerTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        CopyFiles::checkFilesAndCopy();
        Realm::setDefaultConfiguration({API::recordsRealmPath(), 1});
    }
    void SetUp() override { test::removeAllRecords(realm()); }
    std::shared_ptr<RealmRecordModel> saved(const QString& name, int minute) {
        auto record = makeRecord(name, minute);
        RealmManager::saveObject(record);
        return record;
    }
};

TEST_F(RealmManagerTest, SaveAddsEntriesToTheSharedFileWithoutMergingEqualOnes) {
    EXPECT_FALSE(realm().isInMemory());
    EXPECT_FALSE(Realm::setDefaultConfiguration({"/elsewhere.realm", 1}));
    EXPECT_EQ(realm().configuration().filePath, API::recordsRealmPath());
    const auto first = saved("same", 1);
    const auto second = saved("same", 1);
    EXPECT_TRUE(first->isManaged());
    EXPECT_EQ(first->realm(), &realm());
    EXPECT_EQ(realm().objects().filter("name == 'same'").size(), 2);
    EXPECT_EQ(test::sqliteCli(API::recordsRealmPath(), "SELECT count(*) FROM RealmRecordModel"),
              "2");
}

TEST_F(RealmManagerTest, UpdatesChangeOneFieldEachInItsOwnWrite) {
    const auto record = saved("Old", 1);
    // A rename stores the symbol of the given name, and an empty one a name of the file's.
    RealmManager::updateObjectName(record, "", "20240501.m4a");
    EXPECT_EQ(record->name(), "Record_20240501.m4a");
    EXPECT_EQ(record->symbol(), "");
    RealmManager::updateObjectName(record, "anna", "20240501.m4a");
    EXPECT_EQ(record->name(), "anna");
    EXPECT_EQ(record->symbol(), "A");
    EXPECT_EQ(record->fileName(), "Old.m4a");

    const Results results = realm().objects().sorted("time", false);
    ChangeRecorder recorder(results);
    RealmManager::updateObjectNote(record, "");
    RealmManager::updateObjectNote(record, "a note");
    RealmManager::updateObjectDuration(record, 42.5);
    RealmManager::updateObjectRecognizerText(record, "hello");
    RealmManager::updateObjectFavorite(record, true);
    EXPECT_EQ(record->note(), "a note");
    EXPECT_EQ(record->duration(), 42.5);
    EXPECT_EQ(record->recognizeText(), "hello");
    ASSERT_EQ(recorder.changes.size(), 6u);
    EXPECT_EQ(recorder.changes[5].modifications, std::vector<int>{0});
    EXPECT_EQ(test::sqliteCli(API::recordsRealmPath(),
                              "SELECT name || '|' || symbol || '|' || note || '|' || duration || "
                              "'|' || recognizeText || '|' || favorite FROM RealmRecordModel"),
              "anna|A|a note|42.5|hello|1");
}

// The records window's search follows renames and new transcriptions, live.
TEST_F(RealmManagerTest, RenameAndRecognitionMoveRecordsInAndOutOfTheSearch) {
    const auto older = saved("Call with Jörg", 1);
    const auto newer = saved("Budget", 2);
    const Results search =
        realm()
            .objects()
            .sorted("time", false)
            .filter("name contains[cd] %@ || recognizeText contains[cd] %@", {"JORG", "JORG"});
    ChangeRecorder recorder(search);
    EXPECT_EQ(namesOf(search), QStringList{"Call with Jörg"});

    RealmManager::updateObjectName(newer, "jörg's budget", "b.m4a");
    RealmManager::updateObjectName(older, "Anna", "a.m4a");
    RealmManager::updateObjectRecognizerText(older, "then JÖRG spoke");
    RealmManager::updateObjectName(newer, "", "b.m4a");
    RealmManager::updateObjectRecognizerText(older, "then Anna spoke");

    ASSERT_EQ(recorder.changes.size(), 6u);
    EXPECT_EQ(recorder.changes[1].insertions, std::vector<int>{0});
    EXPECT_EQ(recorder.changes[2].deletions, std::vector<int>{1});
    EXPECT_EQ(recorder.changes[3].insertions, std::vector<int>{1});
    EXPECT_EQ(recorder.changes[4].deletions, std::vector<int>{0});
    EXPECT_EQ(recorder.changes[5].deletions, std::vector<int>{0});
    EXPECT_EQ(namesOf(search), QStringList{});
    EXPECT_EQ(namesOf(realm().objects().filter("name contains[cd] 'RECORD_B'")),
              QStringList{"Record_b.m4a"});
}

TEST_F(RealmManagerTest, DeleteRemovesTheEntryButNotTheRecordingFile) {
    const auto audio = saved("kept", 1);
    const auto video = makeRecord("screen", 2, RecordType::video);
    RealmManager::saveObject(video);
    test::writeFile(*audio->filePath(), "sound");
    test::writeFile(*video->filePath(), "picture");
    const Results results = realm().objects().sorted("time", false);
    ChangeRecorder recorder(results);

    RealmManager::deleteObject(audio);
    RealmManager::deleteObject(video);

    EXPECT_TRUE(audio->isInvalidated());
    EXPECT_EQ(results.size(), 0);
    ASSERT_EQ(recorder.changes.size(), 3u);
    EXPECT_EQ(recorder.changes[1].deletions, std::vector<int>{1});
    EXPECT_EQ(recorder.changes[2].deletions, std::vector<int>{0});
    EXPECT_EQ(test::readFile(API::audioRecordsPath() + "kept.m4a"), "sound");
    EXPECT_EQ(test::readFile(API::videoRecordsPath() + "screen.m4a"), "picture");
    EXPECT_EQ(test::sqliteCli(API::recordsRealmPath(), "PRAGMA integrity_check"), "ok");
}

} // namespace
} // namespace orvo
