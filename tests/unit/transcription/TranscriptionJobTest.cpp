#include "transcription/TranscriptionJob.h"

#include <memory>

#include <QCoreApplication>
#include <QFileInfo>
#include <gtest/gtest.h>

#include "fakes/FakeSpeechRecognizer.h"
#include "platform/Platform.h"
#include "shell/API.h"
#include "shell/CopyFiles.h"
#include "store/Realm.h"
#include "store/RealmManager.h"
#include "store/RealmRecordModel.h"
#include "support/TestFiles.h"
#include "transcription/SubtitleWriter.h"

namespace orvo {
namespace {

SpeechResult result(double seconds, bool isFinal) {
    return SpeechResult{
        "hello there", {{"hello", seconds - 1, 0.5}, {"there", seconds, 0.5}}, isFinal};
}

// A record of ten seconds in the catalogue, and the job on it; what the job tells is kept.
class TranscriptionJobTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        CopyFiles::checkFilesAndCopy();
        Realm::setDefaultConfiguration({API::recordsRealmPath(), 1});
    }
    void SetUp() override {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        auto fake = std::make_unique<FakeSpeechRecognizer>();
        engine = fake.get();
        Platform::shared().install<SpeechRecognizer>(std::move(fake));
        record = std::make_shared<RealmRecordModel>("call", "", QString("call%1.m4a").arg(++count),
                                                    QDateTime::currentDateTime(), 10.0,
                                                    RecordType::audio, std::nullopt, 0.1);
        RealmManager::saveObject(record);
        job = TranscriptionJob::create(record);
        ASSERT_NE(job, nullptr);
        QObject::connect(job.get(), &TranscriptionJob::progressed,
                         [this](int percent) { progress.push_back(percent); });
        QObject::connect(job.get(), &TranscriptionJob::finished, [this] { ++finished; });
        QObject::connect(job.get(), &TranscriptionJob::failed, [this] { ++failed; });
        job->start();
        ASSERT_NE(engine->lastTask, nullptr);
    }
    void TearDown() override {
        job.reset();
        Platform::shared().clear();
        QLocale::setDefault(QLocale::c());
    }
    QString subtitles() const { return SubtitleWriter::subtitlePath(*record->filePath()); }

    static inline int count = 0;
    FakeSpeechRecognizer* engine = nullptr;
    std::shared_ptr<RealmRecordModel> record;
    std::unique_ptr<TranscriptionJob> job;
    std::vector<int> progress;
    int finished = 0;
    int failed = 0;
};

TEST_F(TranscriptionJobTest, TheTextIsStoredAndTheSubtitlesWrittenBesideTheFile) {
    engine->lastTask->deliver(result(5, false), std::nullopt);
    EXPECT_EQ(progress, std::vector<int>{50});
    engine->lastTask->deliver(result(9, true), std::nullopt);
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(record->recognizeText(), "hello there");
    EXPECT_EQ(test::sqliteField(API::recordsRealmPath(),
                                QString("SELECT recognizeText FROM RealmRecordModel WHERE "
                                        "fileName = '%1'")
                                    .arg(record->fileName())),
              "hello there");
    EXPECT_TRUE(test::readFile(subtitles()).contains("hello there"));
}

TEST_F(TranscriptionJobTest, ATextTheCatalogueRefusesIsAFailureAndNoSubtitles) {
    // The result arrives while another write holds the catalogue: its write is refused.
    realm().write([&] { engine->lastTask->deliver(result(9, true), std::nullopt); });
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(finished, 0);
    EXPECT_EQ(record->recognizeText(), "");
    EXPECT_FALSE(QFileInfo::exists(subtitles()));
}

TEST_F(TranscriptionJobTest, ACancelledOrDeletedRecordsTranscriptionEndsAndStoresNothing) {
    job->cancel();
    // The engine's last report after the cancel arrives in a later turn.
    test::waitUntil(
        [&] {
            QCoreApplication::processEvents();
            return false;
        },
        100);
    EXPECT_EQ(finished + failed, 0) << "the user asked for it: nothing to tell";
    EXPECT_EQ(record->recognizeText(), "");
    EXPECT_TRUE(engine->lastTask->finished());

    // Deleted while it is transcribed.
    job = TranscriptionJob::create(record);
    QObject::connect(job.get(), &TranscriptionJob::failed, [this] { ++failed; });
    job->start();
    RealmManager::deleteObject(record);
    engine->lastTask->deliver(result(9, true), std::nullopt);
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(finished, 0);
}

} // namespace
} // namespace orvo
