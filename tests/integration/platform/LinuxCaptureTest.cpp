#include "platform/linux/capture/LinuxCapture.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "integration/platform/ExportWait.h"
#include "integration/platform/MediaCheck.h"
#include "platform/Platform.h"
#include "platform/linux/media/FFmpegMedia.h"
#include "platform/linux/sound/LinuxAudioHardware.h"
#include "support/TestFiles.h"

namespace orvo {
namespace {

using namespace std::chrono_literals;

// Collects finish callbacks from the outputs' threads.
class Finishes final : public CaptureFileOutputRecordingDelegate {
public:
    struct Finish {
        QString path;
        std::optional<CaptureError> error;
        std::thread::id thread;
    };

    void fileOutputDidFinishRecording(CaptureFileOutput&, const QString& path,
                                      const std::optional<CaptureError>& error) override {
        {
            std::lock_guard lock(mutex_);
            finishes_.push_back({path, error, std::this_thread::get_id()});
        }
        changed_.notify_all();
    }

    std::vector<Finish> waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, 20s, [&] { return finishes_.size() >= count; });
        return finishes_;
    }

private:
    std::mutex mutex_; // guards finishes_
    std::condition_variable changed_;
    std::vector<Finish> finishes_;
};

// One session with an output per source, built the way the recording engine builds it.
struct Recorder {
    LinuxCapture capture{static_cast<LinuxAudioHardware&>(Platform::shared().get<AudioHardware>())};
    std::unique_ptr<CaptureSession> session = capture.makeSession();
    std::vector<std::shared_ptr<CaptureFileOutput>> outputs;

    bool add(std::shared_ptr<CaptureInput> input, std::shared_ptr<CaptureFileOutput> output) {
        auto connection = std::make_shared<CaptureConnection>(input, output);
        if (!input || !session->canAddInput(input) || !session->addInputWithNoConnections(input) ||
            !session->canAddOutput(output) || !session->addOutputWithNoConnections(output) ||
            !session->canAddConnection(connection) || !session->addConnection(connection)) {
            return false;
        }
        outputs.push_back(output);
        return true;
    }
};

// Copies what is written into a pipe to a file, stopping for a while after the first second:
// a disk that stops answering, as an NFS home or a USB disk spinning up does.
void copyWithStall(const QString& pipe, const QString& copy, std::chrono::milliseconds stall) {
    const int in = ::open(pipe.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(copy.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (in < 0 || out < 0) {
        return;
    }
    // A small pipe blocks the writer at once rather than after a minute of sound.
    ::fcntl(in, F_SETPIPE_SZ, 4096);
    const auto first = std::chrono::steady_clock::now();
    bool stalled = false;
    char buffer[4096];
    for (ssize_t got; (got = ::read(in, buffer, sizeof buffer)) > 0;) {
        if (::write(out, buffer, std::size_t(got)) != got) {
            break;
        }
        if (!stalled && std::chrono::steady_clock::now() - first > 1s) {
            stalled = true;
            std::this_thread::sleep_for(stall);
        }
    }
    ::close(in);
    ::close(out);
}

// Waits until the output has heard its source play. A monitor of a sink that ran with a long
// latency feeds late at first, by a time that differs from run to run.
bool waitForSound(CaptureFileOutput& output) {
    auto* audio = dynamic_cast<CaptureAudioFileOutput*>(&output);
    return audio != nullptr && test::waitUntil(
                                   [&] {
                                       const auto level = audio->takeLoudestDecibels();
                                       return level && *level > -20.0f;
                                   },
                                   5000);
}

// Writes the whole buffer unless stopped first: the source reads the pipe only while it runs.
void writeUnlessStopped(int out, const std::vector<float>& buffer, const std::atomic<bool>& stop) {
    const auto* bytes = reinterpret_cast<const char*>(buffer.data());
    std::size_t left = buffer.size() * sizeof(float);
    while (left > 0 && !stop) {
        const ssize_t written = ::write(out, bytes, left);
        if (written > 0) {
            bytes += written;
            left -= std::size_t(written);
        } else {
            std::this_thread::sleep_for(10ms);
        }
    }
}

// Plays a tone through the pipe as a source does, paced as it is heard, with bursts of samples
// that are no numbers or no sound: a tenth of every half second.
void playGarbledTone(const QString& pipe, const std::atomic<bool>& stop) {
    const int out = ::open(pipe.toLocal8Bit().constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (out < 0) {
        return;
    }
    constexpr int rate = 48000;
    constexpr std::size_t chunkFrames = rate / 10;
    std::vector<float> chunk(chunkFrames * 2);
    for (std::size_t played = 0; !stop; played += chunkFrames) {
        for (std::size_t i = 0; i < chunkFrames; ++i) {
            const double t = double(played + i) / rate;
            const bool garbled = (played / chunkFrames) % 5 == 0 && i < chunkFrames / 10;
            const float noise[] = {std::numeric_limits<float>::quiet_NaN(),
                                   std::numeric_limits<float>::infinity(), 1e30f};
            const float sample =
                garbled ? noise[i % 3] : float(0.3 * std::sin(2 * M_PI * 1000 * t));
            chunk[2 * i] = chunk[2 * i + 1] = sample;
        }
        writeUnlessStopped(out, chunk, stop);
        std::this_thread::sleep_for(100ms);
    }
    ::close(out);
}

class LinuxCaptureTest : public testing::Test {
protected:
    std::unique_ptr<ExportSession> mergeAudio(const QStringList& paths, const QString& output) {
        MediaComposition composition;
        for (const QString& path : paths) {
            const MediaAsset asset = media.loadAsset(path);
            if (auto source = asset.firstTrack(MediaType::audio)) {
                composition.addMutableTrack(MediaType::audio)
                    ->insertTimeRange(source->timeRange(), *source, 0.0);
            }
        }
        auto session = media.makeExportSession(composition, exportPresetAppleM4A);
        session->setOutputFileType(MediaFileType::appleM4A);
        session->setOutputPath(output);
        return session;
    }

    void SetUp() override {
        Platform::shared().install<Displays>(std::make_unique<test::RootScreenDisplays>());
        Platform::shared().install<AudioHardware>(std::make_unique<LinuxAudioHardware>());
    }
    void TearDown() override { Platform::shared().clear(); }

    QTemporaryDir folder;
    FFmpegMedia media;
};

TEST_F(LinuxCaptureTest, RecordsEachSourceIntoItsOwnSegmentOnOneClock) {
    test::TonePlayer microphone(folder.path(), "microphone_feed", 1000, 0.3);
    test::TonePlayer farSide(folder.path(), "speakers", 440, 0.3);
    ASSERT_TRUE(test::waitUntil([&] { return microphone.playing() && farSide.playing(); }, 5000));

    Recorder recorder;
    recorder.session->setSessionPreset(SessionPreset::high);
    ASSERT_TRUE(recorder.add(recorder.capture.makeDeviceInput("microphone"),
                             recorder.capture.makeAudioFileOutput()));
    ASSERT_TRUE(recorder.add(recorder.capture.makeDeviceInput("speakers.monitor"),
                             recorder.capture.makeAudioFileOutput()));
    const QStringList paths = {folder.filePath("20240131120000_0.m4a"),
                               folder.filePath("20240131120000_1.m4a")};
    Finishes finishes;
    recorder.session->startRunning();
    ASSERT_TRUE(recorder.session->isRunning());
    for (int i = 0; i < 2; ++i) {
        recorder.outputs[i]->startRecording(paths[i], CaptureFileType::appleM4A, finishes);
        EXPECT_TRUE(recorder.outputs[i]->isRecording());
    }
    // The length of the recording, not a wait for a condition.
    std::this_thread::sleep_for(3s);
    for (const auto& output : recorder.outputs) {
        output->stopRecording();
    }
    const auto finished = finishes.waitFor(2);
    recorder.session->stopRunning();

    ASSERT_EQ(finished.size(), 2u);
    for (const auto& finish : finished) {
        EXPECT_TRUE(paths.contains(finish.path));
        EXPECT_FALSE(finish.error.has_value()) << finish.error->localizedDescription.toStdString();
        EXPECT_NE(finish.thread, std::this_thread::get_id());
    }
    EXPECT_FALSE(recorder.outputs[0]->isRecording());

    const test::ProbedFile mic = test::probe(paths[0]);
    const test::ProbedFile far = test::probe(paths[1]);
    for (const auto& probed : {mic, far}) {
        ASSERT_TRUE(probed.readable);
        EXPECT_EQ(probed.streamCodecs, QStringList{"aac"});
        EXPECT_NEAR(probed.durationSeconds, 3.0, 0.3);
        ASSERT_TRUE(probed.captureStart.has_value());
    }
    EXPECT_LE(std::abs(*mic.captureStart - *far.captureStart), 20000);

    // Each source holds its own tone only, at the level it was played. The windows leave out
    // the first second: a sink that ran with a long latency feeds its monitor late at first.
    const auto micSamples = test::decodeAudio(paths[0]);
    const auto farSamples = test::decodeAudio(paths[1]);
    EXPECT_NEAR(test::toneAmplitude(micSamples, 1000, 1.2, 2.8), 0.3, 0.05);
    EXPECT_LT(test::toneAmplitude(micSamples, 440, 1.2, 2.8), 0.01);
    EXPECT_NEAR(test::toneAmplitude(farSamples, 440, 1.2, 2.8), 0.3, 0.05);
    EXPECT_LT(test::toneAmplitude(farSamples, 1000, 1.2, 2.8), 0.01);

    // Laid over one another, both sides are heard at their own level.
    const QString merged = folder.filePath("20240131120000.m4a");
    const auto session = mergeAudio(paths, merged);
    ASSERT_EQ(test::exportAndWait(*session).status, ExportStatus::completed);
    const test::ProbedFile probed = test::probe(merged);
    EXPECT_EQ(probed.streamCodecs, QStringList{"aac"});
    EXPECT_NEAR(probed.durationSeconds, 3.0, 0.3);
    const auto mixed = test::decodeAudio(merged);
    EXPECT_NEAR(test::toneAmplitude(mixed, 1000, 1.2, 2.8), 0.3, 0.05);
    EXPECT_NEAR(test::toneAmplitude(mixed, 440, 1.2, 2.8), 0.3, 0.05);
}

TEST_F(LinuxCaptureTest, KeepsARecordingStoppedWithinItsFirstMoments) {
    // The first moments of a segment are gathered before they are written; a stop that comes
    // first must still write them, up to the stop.
    test::TonePlayer microphone(folder.path(), "microphone_feed", 1000, 0.3);
    ASSERT_TRUE(test::waitUntil([&] { return microphone.playing(); }, 5000));
    Recorder recorder;
    ASSERT_TRUE(recorder.add(recorder.capture.makeDeviceInput("microphone"),
                             recorder.capture.makeAudioFileOutput()));
    const QString path = folder.filePath("20240131120000_0.m4a");
    Finishes finishes;
    recorder.session->startRunning();
    ASSERT_TRUE(waitForSound(*recorder.outputs[0]));
    const auto started = std::chrono::steady_clock::now();
    recorder.outputs[0]->startRecording(path, CaptureFileType::appleM4A, finishes);
    // The length of the recording, not a wait for a condition.
    std::this_thread::sleep_for(300ms);
    const std::chrono::duration<double> asked = std::chrono::steady_clock::now() - started;
    recorder.outputs[0]->stopRecording();
    const auto finished = finishes.waitFor(1);
    recorder.session->stopRunning();

    ASSERT_EQ(finished.size(), 1u);
    EXPECT_FALSE(finished[0].error.has_value());
    const test::ProbedFile probed = test::probe(path);
    ASSERT_TRUE(probed.readable);
    EXPECT_NEAR(probed.durationSeconds, asked.count(), 0.05);
    EXPECT_NEAR(test::toneAmplitude(test::decodeAudio(path), 1000, 0.1, 0.25), 0.3, 0.05);
}

TEST_F(LinuxCaptureTest, AWriteThatStallsForSecondsLosesNoSound) {
    // A long buffer: a player that runs dry under load leaves gaps that are not the recorder's.
    test::TonePlayer microphone(folder.path(), "microphone_feed", 1000, 0.3, 200);
    ASSERT_TRUE(test::waitUntil([&] { return microphone.playing(); }, 5000));
    Recorder recorder;
    ASSERT_TRUE(recorder.add(recorder.capture.makeDeviceInput("microphone"),
                             recorder.capture.makeAudioFileOutput()));
    const QString pipe = folder.filePath("20240131120000_0.m4a");
    ASSERT_EQ(::mkfifo(pipe.toLocal8Bit().constData(), 0600), 0);
    const QString copy = folder.filePath("copy.m4a");
    std::thread disk([&] { copyWithStall(pipe, copy, 3s); });
    Finishes finishes;
    recorder.session->startRunning();
    std::this_thread::sleep_for(1500ms); // the monitor's first moments, as above
    recorder.outputs[0]->startRecording(pipe, CaptureFileType::appleM4A, finishes);
    // The length of the recording, not a wait for a condition.
    std::this_thread::sleep_for(4s);
    recorder.outputs[0]->stopRecording();
    const auto finished = finishes.waitFor(1);
    recorder.session->stopRunning();
    disk.join();

    ASSERT_EQ(finished.size(), 1u);
    EXPECT_FALSE(finished[0].error.has_value());
    const auto samples = test::decodeAudio(copy);
    EXPECT_NEAR(double(samples.size()) / 48000.0, 4.0, 0.3);
    // Every moment holds the tone: nothing was dropped while the disk stood still.
    for (double from = 0.1; from + 0.2 < double(samples.size()) / 48000.0; from += 0.1) {
        EXPECT_NEAR(test::toneAmplitude(samples, 1000, from, from + 0.1), 0.3, 0.05)
            << "at " << from << " s; the player ran dry " << microphone.underruns() << " times";
    }
}

TEST_F(LinuxCaptureTest, SamplesThatAreNoNumbersBecomeSilenceAndTheRecordingGoesOn) {
    // A pipe source hands on its samples as they come; PulseAudio passes such bursts on.
    const QString pipe = folder.filePath("garbled");
    const QString module = QString::fromUtf8(
        test::run("pactl", {"load-module", "module-pipe-source", "source_name=garbled",
                            "file=" + pipe, "format=float32le", "rate=48000", "channels=2"})
            .trimmed());
    ASSERT_FALSE(module.isEmpty());
    const auto unload = qScopeGuard([&] { test::run("pactl", {"unload-module", module}); });
    std::atomic<bool> stop = false;
    std::thread source([&] { playGarbledTone(pipe, stop); });
    const auto stopSource = qScopeGuard([&] {
        stop = true;
        source.join();
    });

    Recorder recorder;
    ASSERT_TRUE(recorder.add(recorder.capture.makeDeviceInput("garbled"),
                             recorder.capture.makeAudioFileOutput()));
    const QString path = folder.filePath("20240131120000_0.m4a");
    Finishes finishes;
    recorder.session->startRunning();
    ASSERT_TRUE(waitForSound(*recorder.outputs[0]));
    recorder.outputs[0]->startRecording(path, CaptureFileType::appleM4A, finishes);
    // The length of the recording, not a wait for a condition.
    std::this_thread::sleep_for(3s);
    recorder.outputs[0]->stopRecording();
    const auto finished = finishes.waitFor(1);
    recorder.session->stopRunning();

    ASSERT_EQ(finished.size(), 1u);
    EXPECT_FALSE(finished[0].error.has_value())
        << finished[0].error->localizedDescription.toStdString();
    const auto samples = test::decodeAudio(path);
    EXPECT_NEAR(double(samples.size()) / 48000.0, 3.0, 0.3);
    EXPECT_TRUE(
        std::all_of(samples.begin(), samples.end(), [](float s) { return std::isfinite(s); }));
    // The tone, less the bursts.
    EXPECT_NEAR(test::toneAmplitude(samples, 1000, 0.5, 2.5), 0.3 * 0.98, 0.03);
}

TEST_F(LinuxCaptureTest, RecordsTheScreenIntoAMovieThatPassesThroughWithEachAudioTrack) {
    const auto [width, height] = test::displaySize();
    ASSERT_GT(width, 0) << "no X display";
    test::TonePlayer microphone(folder.path(), "microphone_feed", 700, 0.3);
    ASSERT_TRUE(test::waitUntil([&] { return microphone.playing(); }, 5000));
    Recorder recorder;
    ASSERT_TRUE(recorder.add(recorder.capture.makeDeviceInput("microphone"),
                             recorder.capture.makeAudioFileOutput()));
    ASSERT_TRUE(recorder.add(recorder.capture.makeDeviceInput("speakers.monitor"),
                             recorder.capture.makeAudioFileOutput()));
    ASSERT_TRUE(
        recorder.add(recorder.capture.makeScreenInput(test::RootScreenDisplays::rootDisplayID, {}),
                     recorder.capture.makeMovieFileOutput()));
    auto* movie = dynamic_cast<CaptureMovieFileOutput*>(recorder.outputs[2].get());
    ASSERT_NE(movie, nullptr);
    const QStringList paths = {folder.filePath("s_0.m4a"), folder.filePath("s_1.m4a"),
                               folder.filePath("s_2.mov")};
    Finishes finishes;
    recorder.session->startRunning();
    recorder.outputs[0]->startRecording(paths[0], CaptureFileType::appleM4A, finishes);
    recorder.outputs[1]->startRecording(paths[1], CaptureFileType::appleM4A, finishes);
    movie->startRecording(paths[2], finishes);
    std::this_thread::sleep_for(2s);
    for (const auto& output : recorder.outputs) {
        output->stopRecording();
    }
    const auto finished = finishes.waitFor(3);
    ASSERT_EQ(finished.size(), 3u);
    recorder.session->stopRunning();
    for (const auto& finish : finished) {
        EXPECT_FALSE(finish.error.has_value()) << finish.path.toStdString();
    }
    const test::ProbedFile screen = test::probe(paths[2]);
    ASSERT_TRUE(screen.readable);
    EXPECT_EQ(screen.streamCodecs, QStringList{"h264"});
    EXPECT_EQ(screen.videoWidth, width);
    EXPECT_NEAR(screen.durationSeconds, 2.0, 0.5);
    std::vector<qint64> starts;
    for (const QString& path : paths) {
        const auto start = test::probe(path).captureStart;
        ASSERT_TRUE(start.has_value()) << path.toStdString();
        starts.push_back(*start);
    }
    EXPECT_LE(*std::max_element(starts.begin(), starts.end()) -
                  *std::min_element(starts.begin(), starts.end()),
              20000);

    MediaComposition composition;
    for (const QString& path : paths) {
        const MediaType type = path.endsWith(".mov") ? MediaType::video : MediaType::audio;
        const MediaAsset asset = media.loadAsset(path);
        auto source = asset.firstTrack(type);
        ASSERT_TRUE(source.has_value()) << path.toStdString();
        ASSERT_TRUE(
            composition.addMutableTrack(type)->insertTimeRange(source->timeRange(), *source, 0.0));
    }
    auto session = media.makeExportSession(composition, exportPresetPassthrough);
    const QString merged = folder.filePath("screen.mov");
    session->setOutputFileType(MediaFileType::mpeg4);
    session->setOutputPath(merged);
    ASSERT_EQ(test::exportAndWait(*session).status, ExportStatus::completed);
    const test::ProbedFile probed = test::probe(merged);
    ASSERT_TRUE(probed.readable);
    EXPECT_TRUE(probed.formatName.contains("mp4"));
    EXPECT_EQ(probed.streamTypes, (QStringList{"audio", "audio", "video"}));
    EXPECT_EQ(probed.streamCodecs, (QStringList{"aac", "aac", "h264"}));
    EXPECT_NEAR(probed.durationSeconds, 2.0, 0.5);
    const auto samples = test::decodeAudio(merged);
    EXPECT_NEAR(test::toneAmplitude(samples, 700, 1.0, 1.8), 0.3, 0.05);
}

TEST_F(LinuxCaptureTest, RefusesWhatItCannotCaptureOrConnect) {
    LinuxCapture capture{static_cast<LinuxAudioHardware&>(Platform::shared().get<AudioHardware>())};
    EXPECT_EQ(capture.makeDeviceInput("no_such_source"), nullptr);
    EXPECT_EQ(capture.makeDeviceInput(""), nullptr);
    EXPECT_EQ(capture.makeScreenInput(77, {}), nullptr);

    auto session = capture.makeSession();
    auto microphone = capture.makeDeviceInput("microphone");
    auto audio = capture.makeAudioFileOutput();
    auto movie = capture.makeMovieFileOutput();
    ASSERT_NE(microphone, nullptr);
    // Not yet in the session: no connection.
    EXPECT_FALSE(session->canAddConnection(std::make_shared<CaptureConnection>(microphone, audio)));
    ASSERT_TRUE(session->addInputWithNoConnections(microphone));
    EXPECT_FALSE(session->canAddInput(microphone));
    ASSERT_TRUE(session->addOutputWithNoConnections(audio));
    ASSERT_TRUE(session->addOutputWithNoConnections(movie));
    EXPECT_FALSE(session->canAddOutput(audio));
    // Audio never feeds a movie; an output takes one connection.
    EXPECT_FALSE(session->canAddConnection(std::make_shared<CaptureConnection>(microphone, movie)));
    auto connection = std::make_shared<CaptureConnection>(microphone, audio);
    ASSERT_TRUE(session->addConnection(connection));
    EXPECT_FALSE(session->canAddConnection(std::make_shared<CaptureConnection>(microphone, audio)));
    session->removeConnection(connection);
    EXPECT_TRUE(session->canAddConnection(std::make_shared<CaptureConnection>(microphone, audio)));
}

TEST_F(LinuxCaptureTest, ReportsAFileThatCannotBeWrittenOrASessionThatDoesNotRun) {
    Recorder recorder;
    ASSERT_TRUE(recorder.add(recorder.capture.makeDeviceInput("microphone"),
                             recorder.capture.makeAudioFileOutput()));
    Finishes finishes;
    const QString idle = folder.filePath("idle.m4a");
    recorder.outputs[0]->startRecording(idle, CaptureFileType::appleM4A, finishes);
    auto finished = finishes.waitFor(1);
    ASSERT_EQ(finished.size(), 1u);
    ASSERT_TRUE(finished[0].error.has_value());
    EXPECT_EQ(finished[0].error->code, CaptureErrorCode::sessionNotRunning);

    recorder.session->startRunning();
    const QString unwritable = folder.filePath("missing-folder/x_0.m4a");
    recorder.outputs[0]->startRecording(unwritable, CaptureFileType::appleM4A, finishes);
    finished = finishes.waitFor(2);
    ASSERT_EQ(finished.size(), 2u);
    EXPECT_EQ(finished[1].path, unwritable);
    ASSERT_TRUE(finished[1].error.has_value());
    EXPECT_EQ(finished[1].error->code, CaptureErrorCode::fileFailed);
    EXPECT_FALSE(finished[1].error->localizedDescription.isEmpty());
    EXPECT_FALSE(recorder.outputs[0]->isRecording());
    EXPECT_FALSE(QFileInfo::exists(idle));
}

} // namespace
} // namespace orvo
