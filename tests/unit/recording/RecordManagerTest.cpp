#include "recording/RecordManager.h"

#include <mutex>
#include <set>
#include <thread>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "fakes/FakeCapture.h"
#include "fakes/FakeFileAttributes.h"
#include "fakes/FakeMedia.h"
#include "platform/Platform.h"
#include "recording/ApplicationsManager.h"
#include "recording/SegmentRecovery.h"
#include "shell/API.h"
#include "shell/CopyFiles.h"
#include "shell/Formatting.h"
#include "shell/Localization.h"
#include "shell/Logging.h"
#include "shell/SettingsManager.h"
#include "store/Realm.h"
#include "store/RealmRecordModel.h"
#include "store/Results.h"
#include "support/RunRecovery.h"
#include "support/StopOutcome.h"
#include "support/TestFiles.h"
#include "unit/store/StoreTestSupport.h"

namespace orvo {
namespace {

const AudioCaptureDevice mic{"Microphone", "mic"};
const AudioCaptureDevice driver{"ORVO Record Device", "driver"};
constexpr DisplayID screen = 7;

class RecordManagerTest : public testing::Test {
protected:
    void SetUp() override {
        CopyFiles::checkFilesAndCopy();
        clearRecordFolders();
        auto capture = std::make_unique<FakeCapture>();
        auto media = std::make_unique<FakeMedia>();
        capture_ = capture.get();
        media_ = media.get();
        capture_->devices = {"mic", "driver"};
        capture_->displays = {screen};
        media_->outputBytes = QByteArray(1000000, 'm');
        Platform::shared().install<Capture>(std::move(capture));
        Platform::shared().install<Media>(std::move(media));
        if (!Realm::defaultConfiguration())
            Realm::setDefaultConfiguration({API::recordsRealmPath(), 1});
        // Recordings of one second share their names, so every test starts with no records.
        test::removeAllRecords(realm());
    }
    void TearDown() override { Platform::shared().clear(); }

    // Starts the recording and lets every output write a segment that the media layer reads
    // as one track of seconds.
    void startWithSegments(RecordManager& manager, double seconds = 5.0) {
        manager.startRecord();
        for (const auto& output : capture_->audioOutputs)
            describe(output->state.path, MediaType::audio, seconds);
        for (const auto& output : capture_->movieOutputs)
            describe(output->state.path, MediaType::video, seconds);
    }

    void describe(const QString& path, MediaType type, double seconds) {
        test::writeFile(path, QByteArray(1000, 's'));
        std::lock_guard lock(media_->mutex);
        media_->assets[path] = MediaAsset{path, seconds, {{type, path, 0, seconds, {}}}};
    }
    // What the merged file reads as once the export has written it: its tracks, the last of
    // type lastType.
    void describeMerged(const QString& path, double seconds, std::size_t tracks,
                        MediaType lastType = MediaType::audio) {
        MediaAsset asset{path, seconds, {}};
        for (std::size_t i = 0; i < tracks; ++i)
            asset.tracks.push_back(
                {i + 1 == tracks ? lastType : MediaType::audio, path, int(i), seconds, {}});
        std::lock_guard lock(media_->mutex);
        media_->assets[path] = asset;
    }

    void stopAndWait(RecordManager& manager) { ASSERT_TRUE(outcome_.stopAndWait(manager, 5000)); }

    static QStringList filesIn(const QString& folder) {
        return QDir(folder).entryList(QDir::Files, QDir::Name);
    }
    static void clearRecordFolders() {
        for (const QString& folder : {API::audioRecordsPath(), API::videoRecordsPath()})
            for (const QString& name : filesIn(folder))
                QFile::remove(folder + name);
    }
    static Results recordsOf(const QString& fileName) {
        return realm().objects().filter("fileName == %@", {fileName});
    }

    FakeCapture* capture_ = nullptr;
    FakeMedia* media_ = nullptr;
    test::StopOutcome outcome_;
};

TEST_F(RecordManagerTest, RefusesSessionsThatCannotRecordEverySource) {
    EXPECT_EQ(RecordManager::create({mic, std::nullopt}), nullptr);
    EXPECT_EQ(RecordManager::create({mic, AudioCaptureDevice{"Gone", "gone"}}), nullptr);
    EXPECT_EQ(RecordManager::create({}), nullptr);
    EXPECT_EQ(RecordManager::create({mic}, true, SessionPreset::low, DisplayID(99)), nullptr);
    capture_->refusals.connections = true;
    EXPECT_EQ(RecordManager::create({mic}), nullptr);
}

TEST_F(RecordManagerTest, TheDesktopsChoiceOfScreenIsKeptForTheNextRecordingAndARefusalSaysWhy) {
    SettingsManager::shared().writeValueSetting("", RecordManager::screenCastTokenKey);
    ASSERT_NE(RecordManager::create({mic}, true, SessionPreset::low, screen), nullptr);
    ASSERT_EQ(capture_->screenChoices.size(), 1u);
    EXPECT_EQ(capture_->screenChoices[0].restoreToken, std::nullopt);
    // The desktop's token of the choice, from the thread that asked it.
    std::thread([&] { capture_->screenChoices[0].keepToken("token-1"); }).join();
    QCoreApplication::processEvents();
    ASSERT_NE(RecordManager::create({mic}, true, SessionPreset::low, screen), nullptr);
    EXPECT_EQ(capture_->screenChoices[1].restoreToken, "token-1");

    capture_->screenRefusal = ScreenRefusal::noPortal;
    std::optional<QString> refusal;
    EXPECT_EQ(RecordManager::create({mic}, true, SessionPreset::low, screen, &refusal), nullptr);
    EXPECT_EQ(refusal, Localization::format(Localization::text("SCREEN_PORTAL_MISSING"),
                                            {"as the test says"}));
    capture_->screenRefusal = ScreenRefusal::cancelled;
    EXPECT_EQ(RecordManager::create({mic}, true, SessionPreset::low, screen, &refusal), nullptr);
    EXPECT_EQ(refusal, Localization::text("SCREEN_CHOICE_CANCELLED"));
    SettingsManager::shared().writeValueSetting("", RecordManager::screenCastTokenKey);
}

TEST_F(RecordManagerTest, ConnectsEachInputToItsOwnOutputAndNamesSegmentsByIndex) {
    auto manager = RecordManager::create({mic, driver}, true, SessionPreset::high, screen);
    ASSERT_NE(manager, nullptr);
    auto* session = capture_->sessions.back();
    ASSERT_EQ(session->connections.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(session->connections[i]->input(), session->inputs[i]);
        EXPECT_EQ(session->connections[i]->output(), session->outputs[i]);
    }
    EXPECT_EQ(session->sessionPreset(), SessionPreset::high);

    const QString stamp = manager->fileName().left(14);
    EXPECT_EQ(manager->fileName(), stamp + ".mov");
    EXPECT_EQ(manager->recordName(), "Screen recording " + stamp);
    startWithSegments(*manager);
    EXPECT_EQ(filesIn(API::audioRecordsPath()), QStringList({stamp + "_0.m4a", stamp + "_1.m4a"}));
    EXPECT_EQ(filesIn(API::videoRecordsPath()), QStringList({stamp + "_2.mov"}));
    EXPECT_EQ(capture_->movieOutputs.front()->state.fileType, CaptureFileType::quickTimeMovie);
    EXPECT_EQ(capture_->audioOutputs.front()->state.fileType, CaptureFileType::appleM4A);

    describeMerged(API::videoRecordsPath() + manager->fileName(), 5.0, 3, MediaType::video);
    stopAndWait(*manager);
    EXPECT_TRUE(outcome_.success());
    ASSERT_EQ(media_->exports.size(), 1u);
    EXPECT_EQ(media_->exports.front()->preset, exportPresetPassthrough);
    EXPECT_EQ(media_->exports.front()->fileType(), MediaFileType::mpeg4);
    EXPECT_EQ(media_->exports.front()->composition.tracks(MediaType::audio).size(), 2u);
    EXPECT_EQ(media_->exports.front()->composition.tracks(MediaType::video).size(), 1u);
    EXPECT_EQ(filesIn(API::audioRecordsPath()), QStringList());
    EXPECT_EQ(filesIn(API::videoRecordsPath()), QStringList({manager->fileName()}));
    EXPECT_EQ(session->removedConnections, 3);
}

TEST_F(RecordManagerTest, CompletedMergeCataloguesTheRecordAndDeletesTheSegments) {
    setLastActiveIM(QStringLiteral("Telegram.app"));
    auto manager = RecordManager::create({mic, driver});
    ASSERT_NE(manager, nullptr);
    startWithSegments(*manager);
    // Without a mixed segment the sides are mixed at the stop, and kept beside the mix.
    describeMerged(API::audioRecordsPath() + manager->fileName(), 5.0, 3);
    const QString console = test::capturedConsole([&] { stopAndWait(*manager); });

    EXPECT_TRUE(outcome_.success());
    EXPECT_EQ(outcome_.calls(), 1);
    ASSERT_EQ(media_->exports.size(), 1u);
    EXPECT_EQ(media_->exports.front()->preset, exportPresetMixAndSides);
    EXPECT_EQ(media_->exports.front()->fileType(), MediaFileType::appleM4A);
    EXPECT_EQ(filesIn(API::audioRecordsPath()), QStringList({manager->fileName()}));
    EXPECT_TRUE(console.contains("didFinishRecordingTo file://"));
    EXPECT_TRUE(console.contains(" wirh errr \n"));
    EXPECT_TRUE(console.contains("completed file://"));

    const auto records = recordsOf(manager->fileName());
    ASSERT_EQ(records.size(), 1);
    const auto record = records.at(0);
    EXPECT_EQ(record->name(), manager->recordName());
    EXPECT_EQ(record->typeRecord(), "Audio");
    EXPECT_EQ(record->socialIM(), QStringLiteral("Telegram.app"));
    EXPECT_DOUBLE_EQ(record->duration(), 5.0);
    EXPECT_DOUBLE_EQ(record->size(), 1.0);
    EXPECT_EQ(record->fromPhone(), "");
    setLastActiveIM(std::nullopt);
}

// One moment on speakers may have put the other side into the microphone: only a call heard
// on worn outputs throughout says so.
TEST_F(RecordManagerTest, TheMergedFileSaysWhatTheUserListenedThrough) {
    using enum OutputKind;
    struct Case {
        std::vector<OutputKind> looks;
        OutputKind says;
    };
    const Case cases[] = {{{}, unknown},
                          {{headphones, headset}, headset},
                          {{headphones, speakers, headphones}, speakers},
                          {{unknown, headphones}, unknown}};
    for (const Case& c : cases) {
        outcome_.reset();
        auto manager = RecordManager::create({mic, driver});
        ASSERT_NE(manager, nullptr);
        startWithSegments(*manager);
        for (OutputKind look : c.looks)
            manager->noteUserOutput(look);
        describeMerged(API::audioRecordsPath() + manager->fileName(), 5.0, 3);
        stopAndWait(*manager);
        EXPECT_TRUE(outcome_.success());
        ASSERT_FALSE(media_->exports.empty());
        EXPECT_EQ(media_->exports.back()->composition.userOutput(), c.says)
            << "after " << c.looks.size() << " looks";
    }
}

// Every way a merge can fail ends in one report that keeps the segments and catalogues nothing.
TEST_F(RecordManagerTest, EveryFailedMergeReportsOnceAndKeepsTheSegments) {
    auto attributes = std::make_unique<FakeFileAttributes>();
    FakeFileAttributes* space = attributes.get();
    Platform::shared().install<FileAttributes>(std::move(attributes));
    constexpr std::int64_t plenty = 1000000000;
    struct Case {
        ExportStatus status;
        bool mergedReadable; // the merged file reads as media
        std::int64_t freeBytes;
        bool refuseExport;
        bool segmentsReadable;
        ErrorRecord expected;
        bool exportStarts;
    };
    const Case cases[] = {
        {ExportStatus::failed, false, plenty, false, true, ErrorRecord::margeFail, true},
        {ExportStatus::unknown, false, plenty, false, true, ErrorRecord::margeUnknow, true},
        {ExportStatus::cancelled, true, plenty, false, true, ErrorRecord::margeCancel, true},
        {ExportStatus::completed, false, plenty, false, true, ErrorRecord::margeFail, true},
        {ExportStatus::completed, true, 1000, false, true, ErrorRecord::noSpace, false},
        {ExportStatus::completed, false, plenty, true, true, ErrorRecord::margeFail, false},
        {ExportStatus::completed, false, plenty, false, false, ErrorRecord::margeFail, false},
    };
    for (const Case& round : cases) {
        SCOPED_TRACE(&round - cases);
        clearRecordFolders();
        // Only this round's outputs get segments: an earlier round may lie in another second.
        capture_->audioOutputs.clear();
        outcome_.reset();
        {
            std::lock_guard lock(media_->mutex);
            media_->exports.clear();
            media_->assets.clear();
            media_->outcome = round.status;
            media_->refuseExport = round.refuseExport;
        }
        space->setAvailableBytes(round.freeBytes);
        auto manager = RecordManager::create({mic, driver});
        ASSERT_NE(manager, nullptr);
        if (round.segmentsReadable) {
            startWithSegments(*manager);
        } else {
            manager->startRecord();
        }
        if (round.mergedReadable) {
            describeMerged(API::audioRecordsPath() + manager->fileName(), 5.0, 3);
        }
        stopAndWait(*manager);
        EXPECT_EQ(outcome_.calls(), 1);
        EXPECT_EQ(outcome_.error(), round.expected);
        EXPECT_EQ(media_->exports.size(), round.exportStarts ? 1u : 0u);
        if (round.segmentsReadable) {
            EXPECT_EQ(filesIn(API::audioRecordsPath()).filter("_").size(), 2);
        }
        EXPECT_EQ(recordsOf(manager->fileName()).size(), 0);
    }
}

TEST_F(RecordManagerTest, OutputsThatEndBeforeTheStopStillLeadToOneOutcome) {
    auto manager = RecordManager::create({mic, driver});
    startWithSegments(*manager);
    for (const auto& output : capture_->audioOutputs)
        output->finish(); // the sources went away while the user still records
    EXPECT_TRUE(media_->exports.empty());
    stopAndWait(*manager);
    EXPECT_EQ(outcome_.calls(), 1);
    EXPECT_EQ(media_->exports.size(), 1u);
}

TEST_F(RecordManagerTest, RacingFinishCallbacksMergeExactlyOnce) {
    std::vector<std::optional<AudioCaptureDevice>> devices;
    for (int i = 0; i < 8; ++i) {
        capture_->devices.insert(QString::number(i));
        devices.push_back(AudioCaptureDevice{"Device", QString::number(i)});
    }
    auto manager = RecordManager::create(devices);
    startWithSegments(*manager);
    auto* session = capture_->sessions.back();
    stopAndWait(*manager);
    EXPECT_EQ(media_->exports.size(), 1u);
    EXPECT_EQ(session->stopRunningCalls, 1);
    EXPECT_EQ(outcome_.calls(), 1);
}

TEST_F(RecordManagerTest, RecordingsOfOneSecondGetDistinctNamesAndOverwriteNothing) {
    const QDateTime moment(QDate(2024, 3, 1), QTime(10, 20, 30));
    EXPECT_EQ(RecordManager::freeStamp(moment), "20240301102030");
    test::writeFile(API::audioRecordsPath() + "20240301102030_0.m4a", "segment");
    EXPECT_EQ(RecordManager::freeStamp(moment), "20240301102030-2");
    test::writeFile(API::videoRecordsPath() + "20240301102030-2.mov", "merged");
    EXPECT_EQ(RecordManager::freeStamp(moment), "20240301102030-3");

    auto first = RecordManager::create({mic, driver});
    startWithSegments(*first);
    auto second = RecordManager::create({mic, driver});
    EXPECT_NE(second->fileName(), first->fileName());
    second->startRecord();
    ASSERT_EQ(capture_->audioOutputs.size(), 4u);
    std::set<QString> paths;
    for (const auto& output : capture_->audioOutputs)
        paths.insert(output->state.path);
    EXPECT_EQ(paths.size(), 4u) << "no segment path is used twice";
}

TEST_F(RecordManagerTest, SegmentsWithoutARecordAreRecoveredUnderTheirNameAndStart) {
    // Left by a kill: two sides of one call, started at a known moment.
    const QDateTime started = QDateTime::fromMSecsSinceEpoch(1709288430250);
    const QString stamp = convertToTimeStamp(started);
    const std::int64_t startMicroseconds = started.toMSecsSinceEpoch() * 1000;
    for (const char* index : {"0", "1"}) {
        const QString path = API::audioRecordsPath() + stamp + "_" + QString(index) + ".m4a";
        test::writeFile(path, QByteArray(1000, 's'));
        std::lock_guard lock(media_->mutex);
        media_->assets[path] =
            MediaAsset{path, 7.0, {{MediaType::audio, path, 0, 7.0, startMicroseconds}}};
    }
    const QString merged = API::audioRecordsPath() + stamp + ".m4a";
    describeMerged(merged, 7.0, 3);
    // Segments of a recording already catalogued are not touched.
    test::writeFile(API::audioRecordsPath() + "20200101000000_0.m4a", "kept");
    realm().write([] {
        realm().add(std::make_shared<RealmRecordModel>("Old", "", "20200101000000.m4a",
                                                       QDateTime::currentDateTime(), 1.0,
                                                       RecordType::audio, std::nullopt, 0.1));
    });

    const auto recoveredOrNot = test::runRecovery(5000);
    ASSERT_TRUE(recoveredOrNot.has_value());
    const auto& recovered = *recoveredOrNot;

    const auto records = recordsOf(stamp + ".m4a");
    ASSERT_EQ(records.size(), 1);
    EXPECT_NEAR(double(records.at(0)->time().toMSecsSinceEpoch()),
                double(started.toMSecsSinceEpoch()), 1000.0);
    EXPECT_DOUBLE_EQ(records.at(0)->duration(), 7.0);
    EXPECT_EQ(recovered,
              (std::vector<std::pair<QString, QString>>{{records.at(0)->name(), stamp + ".m4a"}}));
    EXPECT_EQ(filesIn(API::audioRecordsPath()),
              QStringList({"20200101000000_0.m4a", stamp + ".m4a"}));
    const QStringList log = test::readLines(Logging::dayFilePath(QDateTime::currentDateTime()));
    EXPECT_EQ(log.filter("Event: info Value: Recording recovered: " + stamp + ".m4a").size(), 1);
    // Each file is read once: the readings are most of what a recovery costs.
    std::multiset<QString> reads;
    {
        std::lock_guard lock(media_->mutex);
        for (const auto& load : media_->loads)
            reads.insert(load.first);
    }
    for (const QString& path : {stamp + "_0.m4a", stamp + "_1.m4a", stamp + ".m4a"})
        EXPECT_EQ(reads.count(API::audioRecordsPath() + path), 1u) << path.toStdString();
}

TEST_F(RecordManagerTest, TheRecordingClockKeepsTimeWhenTicksComeLate) {
    auto manager = RecordManager::create({mic});
    std::vector<double> seconds;
    manager->changeSeconds = [&](double elapsed, double) { seconds.push_back(elapsed); };
    startWithSegments(*manager);
    // A main thread busy for a while loses the ticks in between, not the time.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (seconds.empty() && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    ASSERT_FALSE(seconds.empty());
    EXPECT_GE(seconds.front(), 2.0);
    EXPECT_LT(seconds.front(), 4.0);
    stopAndWait(*manager);
}

TEST_F(RecordManagerTest, SizeCountsMegabytesOfAMillionBytes) {
    EXPECT_DOUBLE_EQ(RecordManager::sizePerMB({}), 0.0);
    EXPECT_DOUBLE_EQ(RecordManager::sizePerMB({std::nullopt, std::nullopt}), 0.0);
    const QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString file = folder.filePath("size.bin");
    test::writeFile(file, QByteArray(2500000, 'a'));
    EXPECT_DOUBLE_EQ(RecordManager::sizePerMB({file, std::nullopt, file + ".missing"}), 2.5);
}

} // namespace
} // namespace orvo
