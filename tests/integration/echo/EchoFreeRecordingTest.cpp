// The "You" track of a saved call written again without the other side's echo: the mixed track
// and the other side's stay as recorded, and the file takes its new track only while its
// record and the file are as they were.
#include <atomic>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include "platform/Platform.h"
#include "platform/linux/echo/WebRtcEchoCanceller.h"
#include "platform/linux/media/AudioTrackDecoder.h"
#include "platform/linux/media/FFmpegHandles.h"
#include "platform/linux/media/FFmpegMedia.h"
#include "recording/EchoRemoval.h"
#include "shell/API.h"
#include "shell/CopyFiles.h"
#include "shell/SettingsManager.h"
#include "store/Realm.h"
#include "store/RealmManager.h"
#include "store/Results.h"
#include "support/SyntheticCall.h"
#include "support/TestFiles.h"

namespace orvo {
namespace {

using test::SyntheticCall;

constexpr int recordedRate = 48000;
constexpr int mixStream = 0;
constexpr int youStream = 1;
constexpr int themStream = 2;

// Each stream's packets as the file holds them: their times and a digest of their bytes.
std::map<int, QByteArray> packetDigests(const QString& path) {
    QString error;
    const ffmpeg::InputContext input = ffmpeg::openInput(path, &error);
    EXPECT_TRUE(input) << qPrintable(error);
    std::map<int, QCryptographicHash> hashes;
    ffmpeg::Packet packet = ffmpeg::makePacket();
    while (input && ffmpeg::readFrame(input.get(), packet.get()) >= 0) {
        auto& hash =
            hashes.try_emplace(packet->stream_index, QCryptographicHash::Sha1).first->second;
        hash.addData(QByteArrayView(reinterpret_cast<const char*>(packet->data), packet->size));
        hash.addData(QByteArray::number(qlonglong(packet->pts)));
        av_packet_unref(packet.get());
    }
    std::map<int, QByteArray> digests;
    for (auto& [stream, hash] : hashes) {
        digests[stream] = hash.result();
    }
    return digests;
}

// One track as the transcription reads it, at the synthetic call's rate.
std::vector<float> trackOf(const QString& path, int stream) {
    AudioTrackDecoder decoder;
    EXPECT_FALSE(
        decoder.open(path, stream, SyntheticCall::rate, AudioTrackDecoder::Format::float32));
    std::vector<float> samples;
    while (decoder.read(samples)) {
    }
    return samples;
}

// Runs the main thread's events, where the outcomes arrive, until condition holds.
bool settle(const std::function<bool()>& condition, int timeoutMs) {
    for (QDeadlineTimer deadline(timeoutMs); !condition() && !deadline.hasExpired();
         QThread::msleep(5)) {
        QCoreApplication::processEvents();
    }
    return condition();
}

double decibels(double ratio) {
    return 10.0 * std::log10(ratio);
}

class EchoFreeRecordingTest : public testing::Test {
protected:
    void SetUp() override {
        CopyFiles::checkFilesAndCopy();
        if (!Realm::defaultConfiguration()) {
            Realm::setDefaultConfiguration({API::recordsRealmPath(), 1});
        }
        Platform::shared().install<Media>(std::make_unique<FFmpegMedia>());
        Platform::shared().install<EchoCanceller>(std::make_unique<WebRtcEchoCanceller>());
        call = test::makeSyntheticCall();
        ASSERT_FALSE(call.far.empty()) << "flite made no speech";
    }
    void TearDown() override {
        SettingsManager::shared().writeValueSetting("", "RemoveEcho");
        Platform::shared().clear();
    }

    // A call recorded as ours are, the microphone in a room with a delay of 150 ms.
    bool writeCall(const QString& path, const QString& userOutput = "speakers") {
        return test::writeCallRecording(path, test::microphoneOf(call, 150), call.far,
                                        {true, recordedRate, userOutput});
    }

    std::shared_ptr<RealmRecordModel> catalogue(const QString& fileName) {
        auto record = std::make_shared<RealmRecordModel>(fileName, QString(), fileName,
                                                         QDateTime::currentDateTime(), 20.0,
                                                         RecordType::audio, std::nullopt, 1.0);
        EXPECT_TRUE(RealmManager::saveObject(record));
        return record;
    }

    EchoFreeCopy writeWithoutEcho(const QString& source, const QString& destination,
                                  bool cancelled = false) {
        const std::atomic<bool> stop{cancelled};
        return Platform::shared().get<Media>().writeWithoutEcho(
            source, destination, youStream, themStream, Platform::shared().get<EchoCanceller>(),
            stop);
    }

    SyntheticCall call;
    QTemporaryDir folder;
};

TEST_F(EchoFreeRecordingTest, TheYouTrackLosesTheEchoEveryOtherTrackStaysAndNoEchoWritesNothing) {
    const QString recorded = folder.filePath("call.m4a");
    ASSERT_TRUE(writeCall(recorded));
    const QString cleaned = folder.filePath("call-echo-free.m4a");
    const EchoFreeCopy copy = writeWithoutEcho(recorded, cleaned);
    ASSERT_FALSE(copy.error) << qPrintable(*copy.error);
    ASSERT_FALSE(copy.delaysMs.empty());
    EXPECT_NEAR(copy.delaysMs.front(), 156, 15);

    Media& media = Platform::shared().get<Media>();
    const MediaAsset before = media.loadAsset(recorded);
    const MediaAsset after = media.loadAsset(cleaned);
    EXPECT_FALSE(before.nearSideEchoRemoved);
    EXPECT_TRUE(after.nearSideEchoRemoved);
    EXPECT_EQ(after.userOutput, OutputKind::speakers);
    ASSERT_EQ(after.tracks.size(), before.tracks.size());
    for (std::size_t i = 0; i < before.tracks.size(); ++i) {
        EXPECT_EQ(after.tracks[i].title, before.tracks[i].title);
    }
    EXPECT_NEAR(after.durationSeconds, before.durationSeconds, 0.05);
    const auto digestsBefore = packetDigests(recorded);
    const auto digestsAfter = packetDigests(cleaned);
    EXPECT_EQ(digestsAfter.at(mixStream), digestsBefore.at(mixStream));
    EXPECT_EQ(digestsAfter.at(themStream), digestsBefore.at(themStream));
    EXPECT_NE(digestsAfter.at(youStream), digestsBefore.at(youStream));

    // Through both AAC encodings: the far side alone, and the user alone.
    const std::vector<float> heard = trackOf(recorded, youStream);
    const std::vector<float> kept = trackOf(cleaned, youStream);
    const double removed =
        decibels(test::energy(heard, call.farAloneFrom + 0.5, call.farAloneUntil) /
                 test::energy(kept, call.farAloneFrom + 0.5, call.farAloneUntil));
    const double userChange =
        decibels(test::energy(kept, call.nearAloneFrom, call.nearAloneFrom + 1) /
                 test::energy(heard, call.nearAloneFrom, call.nearAloneFrom + 1));
    std::printf("echo removed from the file's \"You\" track: %.1f dB; the user alone: %+.1f dB\n",
                removed, userChange);
    EXPECT_GE(removed, 40.0);
    EXPECT_NEAR(userChange, 0.0, 1.5);

    // Cancelled, or without an echo to take out, nothing is written.
    EXPECT_TRUE(writeWithoutEcho(recorded, folder.filePath("cancelled.m4a"), true).error);
    EXPECT_FALSE(QFileInfo::exists(folder.filePath("cancelled.m4a")));
    const QString quiet = folder.filePath("headphones.m4a");
    ASSERT_TRUE(test::writeCallRecording(quiet, call.near, call.far, {true, recordedRate, {}}));
    const EchoFreeCopy unchanged = writeWithoutEcho(quiet, folder.filePath("quiet-copy.m4a"));
    EXPECT_FALSE(unchanged.error);
    EXPECT_TRUE(unchanged.delaysMs.empty());
    EXPECT_FALSE(QFileInfo::exists(folder.filePath("quiet-copy.m4a")));
}

TEST_F(EchoFreeRecordingTest, ASavedCallTakesItsCleanedTrackOnlyWhileItsRecordAndFileAreAsSaved) {
    const QString folderPath = API::audioRecordsPath();
    const auto pathOf = [&](const QString& name) { return folderPath + name; };
    // A copy half written when the program ended.
    test::writeFile(EchoRemoval::partPathOf(pathOf("20240501100000.m4a")), "half");
    ASSERT_TRUE(writeCall(pathOf("20240501100000.m4a")));
    ASSERT_TRUE(writeCall(pathOf("20240501110000.m4a"), "headphones"));
    ASSERT_TRUE(writeCall(pathOf("20240501120000.m4a")));
    ASSERT_TRUE(writeCall(pathOf("20240501130000.m4a")));
    std::map<QString, QByteArray> saved;
    for (const QString& name : QDir(folderPath).entryList({"*.m4a"}, QDir::Files)) {
        saved[name] = test::readFile(pathOf(name));
    }
    catalogue("20240501100000.m4a");
    catalogue("20240501110000.m4a");
    const auto deleted = catalogue("20240501120000.m4a");
    catalogue("20240501130000.m4a");

    std::map<QString, bool> outcomes;
    {
        EchoRemoval removal;
        EXPECT_FALSE(QFileInfo::exists(EchoRemoval::partPathOf(pathOf("20240501100000.m4a"))));
        removal.finished = [&](const QString& fileName, bool replaced) {
            outcomes[fileName] = replaced;
        };
        removal.add("20240501100000.m4a");
        removal.add("20240501110000.m4a");
        removal.add("20240501120000.m4a");
        // Deleted while its copy is written.
        RealmManager::deleteObject(deleted);
        ASSERT_TRUE(settle([&] { return outcomes.size() == 3; }, 120000));
        // The user turned it off.
        SettingsManager::shared().writeValueSetting("NO", "RemoveEcho");
        removal.add("20240501130000.m4a");
        ASSERT_TRUE(settle([&] { return outcomes.size() == 4; }, 10000));
        EXPECT_TRUE(removal.isIdle());
    }
    EXPECT_EQ(outcomes, (std::map<QString, bool>{{"20240501100000.m4a", true},
                                                 {"20240501110000.m4a", false},
                                                 {"20240501120000.m4a", false},
                                                 {"20240501130000.m4a", false}}));
    EXPECT_TRUE(Platform::shared()
                    .get<Media>()
                    .loadAsset(pathOf("20240501100000.m4a"))
                    .nearSideEchoRemoved);
    for (const char* name : {"20240501110000.m4a", "20240501120000.m4a", "20240501130000.m4a"}) {
        EXPECT_EQ(test::readFile(pathOf(name)), saved[name]) << qPrintable(name);
    }
    EXPECT_TRUE(QDir(folderPath).entryList({"*.echo-free"}, QDir::Files | QDir::Hidden).isEmpty());
}

} // namespace
} // namespace orvo
