// Whole recordings on the private sound server and X display: capture, merge, catalogue.
#include "recording/RecordManager.h"
#include "recording/SegmentRecovery.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <thread>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include "audio/AudioManager.h"
#include "integration/platform/MediaCheck.h"
#include "platform/Platform.h"
#include "platform/linux/capture/LinuxCapture.h"
#include "platform/linux/echo/WebRtcEchoCanceller.h"
#include "platform/linux/media/FFmpegHandles.h"
#include "platform/linux/media/FFmpegMedia.h"
#include "platform/linux/signal/EchoDelay.h"
#include "platform/linux/sound/LinuxAudioHardware.h"
#include "shell/API.h"
#include "support/RealRecording.h"
#include "support/RunRecovery.h"
#include "support/StopOutcome.h"
#include "support/SyntheticCall.h"
#include "support/TestFiles.h"

namespace orvo {
namespace {

class RecordManagerCallTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("ORVO_DRIVER_TEST_ROOT"))
            << "run under scripts/test, which installs the driver";
        test::startFromEmptyRecordFolders();
        LinuxAudioHardware::Options options;
        options.driverRoot = qEnvironmentVariable("ORVO_DRIVER_TEST_ROOT");
        test::installRecordingBackends(options);
        Platform::shared().install<Displays>(std::make_unique<test::RootScreenDisplays>());
    }
    void TearDown() override { Platform::shared().clear(); }

    static QStringList filesIn(const QString& folder) {
        return QDir(folder).entryList(QDir::Files, QDir::Name);
    }

    // The microphone and the driver's capture device, as the tray would hand them over.
    static std::vector<std::optional<AudioCaptureDevice>> callDevices() {
        std::optional<AudioCaptureDevice> microphone;
        for (const auto& device : AudioManager::inputAudioDevices()) {
            if (device.uniqueID == "microphone")
                microphone = device;
        }
        return {microphone, AudioManager::driverCaptureDevice()};
    }

    void stopAndWait(RecordManager& manager) { ASSERT_TRUE(outcome_.stopAndWait(manager, 30000)); }

    QTemporaryDir folder_;
    test::StopOutcome outcome_;
};

TEST_F(RecordManagerCallTest, ACallIsRecordedWithBothSidesInOneFile) {
    AudioRoute route;
    ASSERT_EQ(AudioManager::createAggregateDeviceWithDefaultDevice(route), std::optional(noErr));
    ASSERT_EQ(AudioManager::switchToAggregate(route), noErr);
    const auto aggregate = std::optional(route.aggregateUID);
    const auto devices = callDevices();
    ASSERT_TRUE(devices[0] && devices[1]);

    // The microphone hears none of the other side here: the side written without its echo
    // finds none to take out, and goes.
    Platform::shared().install<EchoCanceller>(std::make_unique<WebRtcEchoCanceller>());
    std::vector<double> ticks;
    {
        test::TonePlayer farSide(folder_.path(), *aggregate, 440, 0.3);
        test::TonePlayer nearSide(folder_.path(), "microphone_feed", 1000, 0.3);
        ASSERT_TRUE(test::waitUntil([&] { return farSide.playing() && nearSide.playing(); }, 5000));
        auto manager = RecordManager::create(devices, false, SessionPreset::high);
        ASSERT_NE(manager, nullptr);
        manager->changeSeconds = [&](double seconds, double) { ticks.push_back(seconds); };
        QElapsedTimer recorded;
        recorded.start();
        manager->startRecord();
        test::runEventLoopFor(5200);
        // A busy machine's event loop overruns its wait: the call lasts what the clock says.
        const double seconds = double(recorded.elapsed()) / 1000.0;
        stopAndWait(*manager);
        const QString fileName = manager->fileName();

        AudioManager::restoreRoute(route);

        EXPECT_TRUE(outcome_.success())
            << (outcome_.error() ? rawValue(*outcome_.error()).toStdString() : "");
        EXPECT_EQ(filesIn(API::audioRecordsPath()), QStringList({fileName}));
        const auto record = test::recordNamed(fileName);
        ASSERT_NE(record, nullptr);
        EXPECT_NEAR(record->duration(), seconds, 0.5);
        EXPECT_EQ(record->typeRecord(), "Audio");
        EXPECT_EQ(record->name(), manager->recordName());
        EXPECT_NEAR(record->size(), RecordManager::sizePerMB({API::audioRecordsPath() + fileName}),
                    1e-9);

        const QString path = API::audioRecordsPath() + fileName;
        const auto samples = test::decodeAudio(path);
        EXPECT_GT(test::toneAmplitude(samples, 440, 1.0, 4.0), 0.1);
        EXPECT_GT(test::toneAmplitude(samples, 1000, 1.0, 4.0), 0.1);
        EXPECT_NEAR(RecordManager::duration(fileName, RecordType::audio), record->duration(), 0.01);

        EXPECT_FALSE(Platform::shared().get<Media>().loadAsset(path).nearSideEchoRemoved);
        // The mix is the one track players play; each side follows on its own, by name.
        const auto probed = test::probe(path);
        EXPECT_EQ(probed.streamTypes, QStringList({"audio", "audio", "audio"}));
        EXPECT_EQ(probed.streamDefaults, std::vector<bool>({true, false, false}));
        EXPECT_EQ(probed.streamTitles.mid(1), QStringList({"You", "Them"}));
        EXPECT_EQ(probed.streamChannels, std::vector<int>({2, 1, 1}));
        for (double seconds : probed.streamDurations)
            EXPECT_NEAR(seconds, probed.streamDurations.front(), 0.05);
        const auto you = test::decodeAudio(path, 1);
        EXPECT_GT(test::toneAmplitude(you, 1000, 1.0, 4.0), 0.1);
        EXPECT_LT(test::toneAmplitude(you, 440, 1.0, 4.0), 0.01);
        const auto them = test::decodeAudio(path, 2);
        EXPECT_GT(test::toneAmplitude(them, 440, 1.0, 4.0), 0.1);
        EXPECT_LT(test::toneAmplitude(them, 1000, 1.0, 4.0), 0.01);
    }
    ASSERT_GE(ticks.size(), 4u);
    for (std::size_t i = 0; i < ticks.size(); ++i)
        EXPECT_EQ(ticks[i], double(i + 1));
}

// A loopback from the speakers into the microphone feed: the room in which the microphone
// hears what the user hears, some time later.
class Loudspeakers {
public:
    explicit Loudspeakers(int latencyMs) {
        const QByteArray index = test::run(
            "pactl", {"load-module", "module-loopback", "source=speakers.monitor",
                      "sink=microphone_feed", "latency_msec=" + QString::number(latencyMs),
                      "source_dont_move=true", "sink_dont_move=true"});
        index_ = QString::fromUtf8(index).trimmed();
    }
    ~Loudspeakers() {
        if (!index_.isEmpty())
            test::run("pactl", {"unload-module", index_});
    }
    Loudspeakers(const Loudspeakers&) = delete;
    Loudspeakers& operator=(const Loudspeakers&) = delete;
    bool loaded() const { return !index_.isEmpty(); }

private:
    QString index_;
};

// Decoded tracks are at 48 kHz.
constexpr int decodedRate = 48000;

// How far below the other side the user's track is over a stretch, in decibels.
double erleOf(const std::vector<float>& you, const std::vector<float>& them, double fromSeconds,
              double toSeconds) {
    return 10 * std::log10((test::energy(them, fromSeconds, toSeconds, decodedRate) + 1e-20) /
                           (test::energy(you, fromSeconds, toSeconds, decodedRate) + 1e-20));
}

// Where the echo of each second of the other side lies in the user's track, as the canceller
// searches it: what to look at when the echo was not taken out.
void printEchoDelays(const std::vector<float>& you, const std::vector<float>& them,
                     double toSeconds) {
    constexpr std::size_t maxLag = decodedRate / 2;
    const auto print = [](std::optional<std::size_t> lag) {
        std::printf(lag ? " %.0f" : " none", lag ? double(*lag) * 1000 / decodedRate : 0.0);
    };
    std::printf("echo delays per second of the other side (ms):");
    for (std::size_t from = decodedRate; double(from + decodedRate) / decodedRate <= toSeconds;
         from += decodedRate) {
        if (from + decodedRate > them.size() || from >= you.size()) {
            break;
        }
        const auto far = std::span<const float>(them).subspan(from, decodedRate);
        const auto near = std::span<const float>(you).subspan(
            from, std::min(decodedRate + maxLag, you.size() - from));
        print(echoDelay(far, near, decodedRate, maxLag));
    }
    std::printf("; over the whole call");
    print(echoDelay(them, you, decodedRate, maxLag));
    std::printf("\n");
}

TEST_F(RecordManagerCallTest, OnLoudspeakersTheOtherSideLeavesTheUsersTrackAndTheUserStays) {
    if (!QString::fromUtf8(test::run("pactl", {"info"})).contains("on PipeWire")) {
        // Measured there: the copy of the combined output that its driver side records and the
        // one the speakers play drift apart by tens of milliseconds within a second, so the far
        // side is no reference for what the microphone hears.
        GTEST_SKIP() << "PulseAudio's combined output keeps its outputs out of step";
    }
    AudioRoute route;
    ASSERT_EQ(AudioManager::createAggregateDeviceWithDefaultDevice(route), std::optional(noErr));
    ASSERT_EQ(AudioManager::switchToAggregate(route), noErr);
    const auto devices = callDevices();
    ASSERT_TRUE(devices[0] && devices[1]);
    Platform::shared().install<EchoCanceller>(std::make_unique<WebRtcEchoCanceller>());
    const QString speech = folder_.filePath("far.wav");
    test::writeWav(speech, test::makeSyntheticCall(20).far);
    {
        Loudspeakers room(100);
        ASSERT_TRUE(room.loaded());
        QProcess farSide;
        farSide.start("paplay", {"--device=" + route.aggregateUID, speech});
        ASSERT_TRUE(farSide.waitForStarted());
        auto manager = RecordManager::create(devices, false, SessionPreset::high);
        ASSERT_NE(manager, nullptr);
        QElapsedTimer recorded;
        recorded.start();
        manager->startRecord();
        test::runEventLoopFor(5000);
        // The user speaks up while the other side goes on.
        const double userFrom = double(recorded.elapsed()) / 1000.0;
        test::TonePlayer user(folder_.path(), "microphone_feed", 1000, 0.3);
        test::runEventLoopFor(4000);
        stopAndWait(*manager);
        farSide.kill();
        farSide.waitForFinished();
        AudioManager::restoreRoute(route);

        ASSERT_TRUE(outcome_.success());
        const QString path = API::audioRecordsPath() + manager->fileName();
        EXPECT_TRUE(Platform::shared().get<Media>().loadAsset(path).nearSideEchoRemoved);
        const auto you = test::decodeAudio(path, 1);
        const auto them = test::decodeAudio(path, 2);
        const double erle = erleOf(you, them, 1.0, userFrom);
        std::printf("echo return loss enhancement on loudspeakers: %.1f dB; per half second:",
                    erle);
        for (double from = 1.0; from + 0.5 <= userFrom; from += 0.5) {
            std::printf(" %.1f", erleOf(you, them, from, from + 0.5));
        }
        std::printf("\n");
        if (erle < 6.0) {
            printEchoDelays(you, them, userFrom);
        }
        // Unremoved, the echo is as loud as the other side itself. Removed, 10 to 42 dB below
        // it, from run to run: this route's echo follows the far side less closely (correlation
        // 0.97 to 0.99, a few jumps of a fraction of a millisecond) than a room does, and the
        // linear canceller, whose output is kept wherever it looks like the user's voice, takes
        // out only 10 to 30 dB of such an echo. The room of the synthetic call holds the stage
        // to its full depth.
        EXPECT_GE(erle, 6.0);
        EXPECT_GT(test::toneAmplitude(you, 1000, userFrom + 1.0, userFrom + 3.5), 0.1);
    }
}

TEST_F(RecordManagerCallTest, AScreenRecordingHoldsTheVideoAndEveryAudioTrack) {
    const auto devices = callDevices();
    auto manager = RecordManager::create(devices, true, SessionPreset::low,
                                         test::RootScreenDisplays::rootDisplayID);
    ASSERT_NE(manager, nullptr);
    manager->startRecord();
    test::runEventLoopFor(2500);
    // Each source, their mix, the screen.
    EXPECT_EQ(filesIn(API::audioRecordsPath()).size(), 3u);
    EXPECT_EQ(filesIn(API::videoRecordsPath()).size(), 1u);
    stopAndWait(*manager);

    EXPECT_TRUE(outcome_.success());
    EXPECT_TRUE(filesIn(API::audioRecordsPath()).isEmpty());
    EXPECT_EQ(filesIn(API::videoRecordsPath()), QStringList({manager->fileName()}));
    const auto probed = test::probe(API::videoRecordsPath() + manager->fileName());
    EXPECT_TRUE(probed.readable);
    // The mix, the sides, then the screen.
    EXPECT_EQ(probed.streamTypes, QStringList({"audio", "audio", "audio", "video"}));
    EXPECT_EQ(probed.streamDefaults, std::vector<bool>({true, false, false, true}));
    const auto record = test::recordNamed(manager->fileName());
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->typeRecord(), "Video");
}

TEST_F(RecordManagerCallTest, AFailedExportKeepsTheSegments) {
    auto manager = RecordManager::create({callDevices()[0]});
    ASSERT_NE(manager, nullptr);
    // The merged file's name is taken by a folder, so the export cannot write it.
    ASSERT_TRUE(QDir().mkpath(API::audioRecordsPath() + manager->fileName()));
    manager->startRecord();
    test::runEventLoopFor(1500);
    stopAndWait(*manager);
    QDir(API::audioRecordsPath() + manager->fileName()).removeRecursively();

    EXPECT_FALSE(outcome_.success());
    EXPECT_EQ(outcome_.error(), ErrorRecord::margeFail);
    const auto segments = filesIn(API::audioRecordsPath());
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_GT(test::probe(API::audioRecordsPath() + segments.front()).durationSeconds, 1.0);
    EXPECT_EQ(test::recordNamed(manager->fileName()), nullptr);
}

TEST_F(RecordManagerCallTest, ACatalogueThatRefusesTheEntryKeepsTheSegments) {
    auto manager = RecordManager::create({callDevices()[0]});
    ASSERT_NE(manager, nullptr);
    ASSERT_EQ(realm().objects().size(), 0);
    // Another program holds the catalogue's write lock for as long as the stop takes.
    QProcess holder;
    holder.start("sqlite3", {API::recordsRealmPath()});
    ASSERT_TRUE(holder.waitForStarted());
    holder.write("BEGIN EXCLUSIVE;\nSELECT 'locked';\n");
    ASSERT_TRUE(test::waitForOutput(holder, "locked", 5000));
    manager->startRecord();
    test::runEventLoopFor(1500);
    stopAndWait(*manager);
    holder.write("ROLLBACK;\n.quit\n");
    holder.closeWriteChannel();
    holder.waitForFinished(5000);

    EXPECT_FALSE(outcome_.success());
    EXPECT_EQ(outcome_.error(), ErrorRecord::saveFail);
    const QStringList files = filesIn(API::audioRecordsPath());
    EXPECT_TRUE(files.contains(manager->fileName()));
    EXPECT_EQ(files.size(), 2) << files.join(' ').toStdString();
    for (const QString& file : files) {
        EXPECT_TRUE(test::probe(API::audioRecordsPath() + file).readable) << file.toStdString();
    }
    EXPECT_EQ(test::recordNamed(manager->fileName()), nullptr);
}

TEST_F(RecordManagerCallTest, AKilledRecorderLeavesSegmentsThatRecoveryMergesOnlyWhenWhole) {
    // Both sides deliver: an idle PipeWire monitor would deliver nothing to keep.
    test::TonePlayer farSide(folder_.path(), "orvo_record_device", 440, 0.3);
    test::TonePlayer nearSide(folder_.path(), "microphone_feed", 1000, 0.3);
    ASSERT_TRUE(test::waitUntil([&] { return farSide.playing() && nearSide.playing(); }, 5000));
    QProcess recorder;
    recorder.start(ORVO_RECORD_PROBE, {});
    ASSERT_TRUE(test::waitForOutput(recorder, "recording", 15000))
        << recorder.readAllStandardError().toStdString();
    QElapsedTimer recorded;
    recorded.start();
    // The length of the recording, not a wait for a condition.
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    recorder.kill();
    ASSERT_TRUE(recorder.waitForFinished(5000));
    const double seconds = double(recorded.elapsed()) / 1000.0;

    // Both sides and their mix. The far side and so the mix may not have begun yet: a
    // PipeWire monitor can deliver seconds late at the start.
    const auto segments = filesIn(API::audioRecordsPath());
    ASSERT_EQ(segments.size(), 3u);
    for (const QString& segment : segments) {
        const auto probed = test::probe(API::audioRecordsPath() + segment);
        EXPECT_TRUE(probed.readable) << segment.toStdString();
        if (segment.endsWith("_0.m4a")) {
            EXPECT_NEAR(probed.durationSeconds, seconds, 1.5);
        }
    }

    const QString stamp = segments.front().section('_', 0, 0);
    const auto recover = [] { return test::runRecovery(20000).has_value(); };
    // A segment that cannot be read: nothing is merged, every segment stays.
    const QString damaged = API::audioRecordsPath() + stamp + "_1.m4a";
    const QByteArray intact = test::readFile(damaged);
    test::writeFile(damaged, QByteArray(256, '\0') + intact.mid(256));
    ASSERT_TRUE(recover());
    EXPECT_EQ(test::recordNamed(stamp + ".m4a"), nullptr);
    EXPECT_EQ(filesIn(API::audioRecordsPath()), segments);
    test::writeFile(damaged, intact);

    // A merge killed halfway left its file, and the mix was lost: the next start still
    // recovers the call, mixes the sides anew and keeps each as a track of its own, and keeps
    // what was left aside.
    const QString merged = API::audioRecordsPath() + stamp + ".m4a";
    test::writeFile(merged, QByteArray(4096, '\x01'));
    ASSERT_TRUE(QFile::remove(API::audioRecordsPath() + stamp + "_mix.m4a"));
    ASSERT_TRUE(recover());
    ASSERT_NE(test::recordNamed(stamp + ".m4a"), nullptr);
    const auto probed = test::probe(merged);
    EXPECT_EQ(probed.streamTypes, QStringList({"audio", "audio", "audio"}));
    EXPECT_EQ(probed.streamDefaults, std::vector<bool>({true, false, false}));
    EXPECT_EQ(probed.streamTitles.mid(1), QStringList({"You", "Them"}));
    EXPECT_NEAR(probed.durationSeconds, seconds, 1.5);
    const auto mix = test::decodeAudio(merged);
    EXPECT_GT(test::toneAmplitude(mix, 1000, 0.5, 2.5), 0.05);
    const auto you = test::decodeAudio(merged, 1);
    EXPECT_GT(test::toneAmplitude(you, 1000, 0.5, 2.5), 0.1);
    EXPECT_LT(test::toneAmplitude(you, 440, 0.5, 2.5), 0.01);
    EXPECT_EQ(filesIn(API::audioRecordsPath()),
              QStringList({stamp + ".m4a", stamp + ".partial.m4a"}));
}

// Recovery reads only what the program writes, and gives up on a read that takes too long.
TEST(SegmentRecoveryInputTest, ASegmentOfAnotherFormatIsRefusedAndEverySegmentKept) {
    test::startFromEmptyRecordFolders();
    Platform::shared().install<Media>(std::make_unique<FFmpegMedia>());
    QTemporaryDir folder;
    const QString tone = test::makeAacTone(folder.path(), 440, 0.3, 2.0);
    // The same sound in a container the program never writes, which FFmpeg itself would play.
    const QString matroska = folder.filePath("tone.mka");
    ASSERT_EQ(
        QProcess::execute("ffmpeg", {"-v", "error", "-y", "-i", tone, "-c", "copy", matroska}), 0);
    ASSERT_TRUE(test::probe(matroska).readable);

    const QString stamp = QStringLiteral("20240501100000");
    const QString segment = API::audioRecordsPath() + stamp + "_0.m4a";
    const QString renamed = API::audioRecordsPath() + stamp + "_1.m4a";
    const QByteArray segmentBytes = test::readFile(tone);
    const QByteArray renamedBytes = test::readFile(matroska);
    test::writeFile(segment, segmentBytes);
    test::writeFile(renamed, renamedBytes);
    auto& media = Platform::shared().get<Media>();
    EXPECT_TRUE(media.loadAsset(segment).firstTrack(MediaType::audio).has_value());
    EXPECT_TRUE(media.loadAsset(renamed).tracks.empty());

    const auto recovered = test::runRecovery(20000);
    ASSERT_TRUE(recovered.has_value());
    EXPECT_TRUE(recovered->empty());
    EXPECT_EQ(test::readFile(segment), segmentBytes);
    EXPECT_EQ(test::readFile(renamed), renamedBytes);
    EXPECT_FALSE(QFileInfo::exists(API::audioRecordsPath() + stamp + ".m4a"));

    // A read whose time is up ends at once, with an error, on a file that reads otherwise.
    QString error;
    EXPECT_NE(ffmpeg::openInput(segment, &error), nullptr) << error.toStdString();
    EXPECT_EQ(ffmpeg::openInput(segment, &error, std::chrono::milliseconds(0)), nullptr);
    EXPECT_TRUE(error.contains(ffmpeg::errorText(AVERROR_EXIT))) << error.toStdString();
    Platform::shared().clear();
}

} // namespace
} // namespace orvo
