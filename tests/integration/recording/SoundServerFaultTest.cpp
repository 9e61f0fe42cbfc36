// Faults of the sound server during a call, injected into a private PulseAudio daemon that
// the program records from with its real backends: a restart, a death, a new default output,
// a user's own combined output, a frozen server.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include "audio/AudioManager.h"
#include "control/RecordingController.h"
#include "fakes/FakePrivacy.h"
#include "integration/platform/MediaCheck.h"
#include "platform/Platform.h"
#include "platform/linux/capture/LinuxCapture.h"
#include "platform/linux/media/FFmpegMedia.h"
#include "platform/linux/sound/LinuxAudioHardware.h"
#include "recording/RecordManager.h"
#include "shell/API.h"
#include "shell/CopyFiles.h"
#include "support/Dialogs.h"
#include "support/PrivateSoundServer.h"
#include "support/RealRecording.h"
#include "support/TestFiles.h"
#include "tray/RecordingAlerts.h"
#include "tray/VolumeView.h"
#include "ui/AlertDialog.h"

namespace orvo {
namespace {

constexpr int rate = 48000;
const char driverSink[] = "orvo_record_device";
// A combined output of the user's own: it plays to the microphone's feed and the driver at
// once, so one click reaches both sides of the recording at the same instant.
const char bothSink[] = "both";

// One arrival of a click in decoded audio: first and last sample above the threshold.
struct Arrival {
    std::size_t onset = 0;
    std::size_t last = 0;
};

std::vector<Arrival> arrivals(const std::vector<float>& samples, std::size_t from) {
    constexpr float threshold = 0.2f;
    constexpr std::size_t joined = rate / 200;
    std::vector<Arrival> found;
    for (std::size_t i = from; i < samples.size(); ++i) {
        if (std::fabs(samples[i]) < threshold) {
            continue;
        }
        if (!found.empty() && i - found.back().last <= joined) {
            found.back().last = i;
        } else {
            found.push_back({i, i});
        }
    }
    return found;
}

class SoundServerFault : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.startError().isEmpty()) << server.startError().toStdString();
        qputenv("PULSE_SERVER", server.address());
        startDevices();
        test::startFromEmptyRecordFolders();
        LinuxAudioHardware::Options options;
        options.server = server.address();
        options.driverRoot = server.driverRoot();
        test::installRecordingBackends(options);
        Platform::shared().install<Displays>(std::make_unique<test::RootScreenDisplays>());
    }
    void TearDown() override {
        alerts.reset();
        controller.reset();
        while (AlertDialog* open = test::modalAlert()) {
            delete open;
        }
        Platform::shared().clear();
        qunsetenv("PULSE_SERVER");
    }

    // The driver, the user's combined output and busy sinks, as after a login.
    void startDevices() {
        ASSERT_EQ(server.runDriverScript("install_driver"), QString());
        ASSERT_FALSE(server
                         .pactl({"load-module", "module-combine-sink",
                                 QStringLiteral("sink_name=%1").arg(bothSink),
                                 QStringLiteral("slaves=microphone_feed,%1").arg(driverSink)})
                         .isEmpty());
        for (const char* sink : {"speakers", "microphone_feed", driverSink}) {
            server.keepBusy(sink);
        }
    }

    // The user's choice of the microphone in the tray.
    void chooseMicrophone() {
        const auto& targets = controller->targets();
        const auto microphone = std::find_if(targets.begin(), targets.end(), [](const auto& t) {
            return t.device && t.device->uniqueID == "microphone";
        });
        ASSERT_NE(microphone, targets.end());
        controller->toggleTarget(int(microphone - targets.begin()));
    }

    RecordingController& startRecording() {
        controller = std::make_unique<RecordingController>(&privacy);
        alerts = std::make_unique<RecordingAlerts>(*controller);
        chooseMicrophone();
        EXPECT_TRUE(test::waitWithEvents([&] { return controller->isRecord(); }, 10000));
        return *controller;
    }

    // Stops the recording and gives the record it catalogued.
    std::shared_ptr<RealmRecordModel> stopRecording() {
        const QString fileName = controller->recordManager()->fileName();
        bool finalised = false;
        controller->stopAndFinalise([&] { finalised = true; });
        EXPECT_TRUE(test::waitWithEvents([&] { return finalised; }, 20000));
        QCoreApplication::processEvents();
        return test::recordNamed(fileName);
    }

    QString defaultSink() const { return server.pactl({"get-default-sink"}).trimmed(); }
    bool sinkExists(const QString& name) const {
        return server.pactl({"list", "short", "sinks"}).contains("\t" + name + "\t");
    }
    // The user's output that the default output, a combined output of ours, plays to; empty
    // when the default is no combined output of ours.
    static QString userOutputOfDefault() {
        const auto user =
            AudioManager::userDeviceOfAggregate(AudioManager::getDefaultOutputDevice());
        return user ? AudioManager::getDeviceUUID(*user).value_or(QString()) : QString();
    }

    test::PrivateSoundServer server;
    FakePrivacy privacy;
    QTemporaryDir folder;
    std::unique_ptr<RecordingController> controller;
    // The tray's: they tell the user what the controller reports.
    std::unique_ptr<RecordingAlerts> alerts;
};

TEST_F(SoundServerFault, ARestartedServerLeavesOneAlignedRecordOfTheWholeCall) {
    QElapsedTimer clock;
    startRecording();
    clock.start();
    test::runEventLoopFor(3000);
    server.stop();
    server.start();
    ASSERT_TRUE(server.startError().isEmpty()) << server.startError().toStdString();
    startDevices();
    // The combined output comes back by itself, as the default output again.
    EXPECT_TRUE(test::waitWithEvents([&] { return userOutputOfDefault() == "speakers"; }, 6000));
    EXPECT_TRUE(controller->isRecord());
    // The outputs look for their sources twice a second and gather half a second of audio.
    test::runEventLoopFor(std::max<int>(1500, 7000 - int(clock.elapsed())));
    const double clickAt = double(clock.elapsed()) / 1000.0;
    const QString click = folder.filePath("click.wav");
    ASSERT_EQ(
        QProcess::execute("sox", {"-n", "-r", "48000", "-c", "2", "-b", "16", click, "synth",
                                  "0.003", "square", "0", "vol", "0.45", "pad", "0.2", "0.5"}),
        0);
    QProcess player;
    player.start("paplay", {QStringLiteral("--device=%1").arg(bothSink), click});
    ASSERT_TRUE(player.waitForFinished(5000));
    test::runEventLoopFor(std::max<int>(500, 10000 - int(clock.elapsed())));

    const auto record = stopRecording();
    ASSERT_NE(record, nullptr);
    EXPECT_GT(record->duration(), 9.5) << "the gap is kept as silence";
    // The merged track mixes both sides: aligned, their clicks make one arrival as long as
    // one click (3 ms); apart, two arrivals or a longer one.
    const auto samples = test::decodeAudio(API::audioRecordsPath() + record->fileName());
    const auto found = arrivals(samples, std::size_t((clickAt - 1.5) * rate));
    ASSERT_FALSE(found.empty()) << "the click is in the record";
    const double spreadMs = double(found.back().last - found.front().onset) * 1000.0 / rate - 3.0;
    EXPECT_LT(spreadMs, 20.0) << found.size() << " arrivals";
    std::printf("sides after the restart: %.3f ms apart, record %.3f s\n", std::max(0.0, spreadMs),
                record->duration());
}

TEST_F(SoundServerFault, AServerGoneForGoodFinalisesWhatCameAndTellsTheUser) {
    startRecording();
    const QString fileName = controller->recordManager()->fileName();
    test::runEventLoopFor(2000);
    server.stop();
    // The outputs wait 15 s for the server, then the recording ends by itself.
    EXPECT_TRUE(test::waitWithEvents(
        [&] { return !controller->isRecord() && !controller->isStopping(); }, 22000));
    EXPECT_TRUE(controller->statusText().isEmpty()) << "the tray stopped counting";
    AlertDialog* alert = test::modalAlert();
    ASSERT_NE(alert, nullptr) << "the user is told";
    const auto record = test::recordNamed(fileName);
    ASSERT_NE(record, nullptr);
    EXPECT_NEAR(record->duration(), 2.0, 1.0);
}

TEST_F(SoundServerFault, ANewDefaultOutputIsFollowedAndRestored) {
    ASSERT_FALSE(server
                     .pactl({"load-module", "module-null-sink", "sink_name=headset",
                             "sink_properties=device.description=Headset"})
                     .isEmpty());
    server.keepBusy("headset");
    startRecording();
    const QString firstAggregate = defaultSink();
    EXPECT_EQ(userOutputOfDefault(), "speakers");
    EXPECT_FALSE(AudioManager::isOwnAggregateDevice(controller->previousOutput()))
        << "the driver search skipped the user's combined output";
    // The far side plays to whatever is the default output.
    QProcess farSide;
    farSide.setProcessEnvironment(server.environment());
    farSide.start("paplay", {test::makeTone(folder.path(), 440, 0.3, 60)});
    ASSERT_TRUE(farSide.waitForStarted());
    test::runEventLoopFor(1000);

    server.pactl({"set-default-sink", "headset"});
    EXPECT_TRUE(test::waitWithEvents([&] { return userOutputOfDefault() == "headset"; }, 5000));
    EXPECT_FALSE(sinkExists(firstAggregate));
    const double switchedAt = 1.5;
    test::runEventLoopFor(3500);
    const QString lastAggregate = defaultSink();
    const auto record = stopRecording();
    farSide.kill();
    farSide.waitForFinished();

    ASSERT_NE(record, nullptr);
    const auto samples = test::decodeAudio(API::audioRecordsPath() + record->fileName());
    EXPECT_GT(test::toneAmplitude(samples, 440, switchedAt + 1.0, record->duration() - 0.5), 0.1)
        << "the far side is still recorded";
    EXPECT_EQ(defaultSink(), "headset") << "the user's choice, not the output of the start";
    EXPECT_TRUE(sinkExists(bothSink)) << "the user's combined output survives";
    EXPECT_FALSE(sinkExists(lastAggregate));
}

TEST_F(SoundServerFault, ALeftoverCombinedOutputIsRemovedAtStartAndTheOutputRestored) {
    AudioRoute route;
    ASSERT_EQ(AudioManager::createAggregateDeviceWithDefaultDevice(route), std::optional(noErr));
    ASSERT_EQ(AudioManager::switchToAggregate(route), noErr);
    const QString leftover = route.aggregateUID;
    ASSERT_EQ(defaultSink(), leftover);
    // A new run of the program: nothing remembered but what the server keeps.
    Platform::shared().clear();
    LinuxAudioHardware::Options options;
    options.server = server.address();
    Platform::shared().install<AudioHardware>(std::make_unique<LinuxAudioHardware>(options));

    controller = std::make_unique<RecordingController>(&privacy);
    EXPECT_TRUE(test::waitUntil([&] { return !sinkExists(leftover); }, 5000));
    EXPECT_EQ(defaultSink(), "speakers");
    EXPECT_TRUE(sinkExists(bothSink));
}

TEST_F(SoundServerFault, AFrozenServerLeavesTheMainThreadAnswering) {
    controller = std::make_unique<RecordingController>(&privacy);
    VolumeView volume(QRect(0, 0, 200, 24));
    const AudioDeviceID output = AudioManager::getDefaultOutputDevice();
    volume.setDevice(output);
    server.freeze();
    // What the program does on its own meanwhile: the input watcher, the volume row.
    QTimer work;
    int round = 0;
    QObject::connect(&work, &QTimer::timeout, [&] {
        AudioManager::inputAudioDevices();
        controller->updateTargets();
        volume.setVolume(AudioManager::getVolumeDevice(output));
        volume.slider->setValue((++round % 10) * 100);
    });
    work.start(100);
    // The user starts a recording, and quits while it waits for the server.
    ASSERT_NO_FATAL_FAILURE(chooseMicrophone());
    EXPECT_TRUE(controller->isStarting());
    bool finalised = false;
    QTimer::singleShot(500, [&] { controller->stopAndFinalise([&] { finalised = true; }); });
    // How late a 20-ms timer fires tells how long the main thread was kept from its events.
    QElapsedTimer sinceLast;
    qint64 worstLatencyMs = 0;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout,
                     [&] { worstLatencyMs = std::max(worstLatencyMs, sinceLast.restart() - 20); });
    sinceLast.start();
    probe.start(20);
    test::runEventLoopFor(3000);
    probe.stop();
    work.stop();
    server.thaw();
    EXPECT_GT(round, 20);
    EXPECT_LT(worstLatencyMs, 100);
    // Once the server answers again, the quit goes through and the output is the user's.
    EXPECT_TRUE(test::waitWithEvents([&] { return finalised; }, 20000));
    EXPECT_FALSE(controller->isRecord());
    EXPECT_EQ(defaultSink(), "speakers");
}

} // namespace
} // namespace orvo
