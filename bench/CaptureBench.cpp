// CPU spent recording two PulseAudio sources into AAC segments at the high preset, per
// minute recorded: our capture as a recording of a call does it (the two sides as speech
// mono and their mix in the preset's quality: /1; with the near side also written without the
// far side's echo: /2) and as it did before the mix (two stereo segments: /0), beside the ffmpeg
// tool recording the same two sources, and beside our encoders alone (the ffmpeg tool encoding a
// file into the three tracks of /1). Needs a sound server with the sources "microphone" and
// "speakers.monitor": run it through bench/run-capture-bench, which starts the private one of the
// tests. ORVO_BENCH_SECONDS sets the length of each recording (60 unless set).
#include <sys/resource.h>

#include <chrono>
#include <condition_variable>
#include <iterator>
#include <mutex>
#include <thread>

#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include "platform/Platform.h"
#include "platform/linux/capture/LinuxCapture.h"
#include "platform/linux/echo/WebRtcEchoCanceller.h"
#include "platform/linux/sound/LinuxAudioHardware.h"

namespace {

using namespace orvo;

// The two sides of a call on the test sound server.
constexpr const char* sources[] = {"microphone", "speakers.monitor"};

int seconds() {
    const QByteArray value = qgetenv("ORVO_BENCH_SECONDS");
    return value.isEmpty() ? 60 : value.toInt();
}

double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class Finishes final : public CaptureFileOutputRecordingDelegate {
public:
    void fileOutputDidFinishRecording(CaptureFileOutput&, const QString&,
                                      const std::optional<CaptureError>& error) override {
        std::lock_guard lock(mutex);
        ++count;
        failed = failed || error.has_value();
        changed.notify_all();
    }
    std::mutex mutex; // guards count, failed
    std::condition_variable changed;
    int count = 0;
    bool failed = false;
};

void BM_OurTwoSourceCapture(benchmark::State& state) {
    QTemporaryDir folder;
    // The capture knows its sources through the audio hardware's connection.
    Platform::shared().install<AudioHardware>(std::make_unique<LinuxAudioHardware>());
    LinuxCapture capture{static_cast<LinuxAudioHardware&>(Platform::shared().get<AudioHardware>())};
    WebRtcEchoCanceller canceller;
    double cpu = 0.0;
    for (auto _ : state) {
        auto session = capture.makeSession();
        session->setSessionPreset(SessionPreset::high);
        std::vector<std::shared_ptr<CaptureFileOutput>> outputs;
        for (const char* source : sources) {
            auto input = capture.makeDeviceInput(source);
            auto output = capture.makeAudioFileOutput();
            if (!input || !session->addInputWithNoConnections(input) ||
                !session->addOutputWithNoConnections(output) ||
                !session->addConnection(std::make_shared<CaptureConnection>(input, output))) {
                state.SkipWithError("no sound server with the test sources");
                return;
            }
            outputs.push_back(output);
        }
        const std::optional<EchoFreeNearSide> echoFree =
            state.range(0) == 2
                ? std::optional<EchoFreeNearSide>(
                      {folder.filePath(QStringLiteral("ours_echofree.m4a")), canceller})
                : std::nullopt;
        if (state.range(0) >= 1) {
            session->setAudioMixPath(folder.filePath(QStringLiteral("ours_mix.m4a")), echoFree);
        }
        Finishes finishes;
        const double before = cpuSeconds(RUSAGE_SELF);
        session->startRunning();
        for (std::size_t i = 0; i < outputs.size(); ++i) {
            outputs[i]->startRecording(folder.filePath(QStringLiteral("ours_%1.m4a").arg(i)),
                                       CaptureFileType::appleM4A, finishes);
        }
        std::this_thread::sleep_for(std::chrono::seconds(seconds()));
        for (const auto& output : outputs) {
            output->stopRecording();
        }
        std::unique_lock lock(finishes.mutex);
        finishes.changed.wait(lock, [&] { return finishes.count == 2; });
        session.reset();
        cpu += cpuSeconds(RUSAGE_SELF) - before;
        if (finishes.failed) {
            state.SkipWithError("a recording failed");
        }
    }
    state.counters["cpu_s_per_recorded_min"] = cpu / state.iterations() * 60.0 / seconds();
}
BENCHMARK(BM_OurTwoSourceCapture)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime();

void BM_FfmpegTwoSourceCapture(benchmark::State& state) {
    QTemporaryDir folder;
    double cpu = 0.0;
    for (auto _ : state) {
        const double before = cpuSeconds(RUSAGE_CHILDREN);
        QProcess ffmpeg;
        const QString length = QString::number(seconds());
        QStringList arguments{"-v", "error", "-y"};
        for (const char* source : sources) {
            arguments += QStringList{"-f", "pulse", "-i", source};
        }
        for (int i = 0; i < int(std::size(sources)); ++i) {
            arguments += QStringList{"-map", QString::number(i), "-t", length};
            arguments += QStringList{"-c:a", "aac", "-b:a", "192k",
                                     folder.filePath(QStringLiteral("ffmpeg_%1.m4a").arg(i))};
        }
        ffmpeg.start("ffmpeg", arguments);
        if (!ffmpeg.waitForFinished(-1) || ffmpeg.exitCode() != 0) {
            state.SkipWithError("ffmpeg could not record");
        }
        cpu += cpuSeconds(RUSAGE_CHILDREN) - before;
    }
    state.counters["cpu_s_per_recorded_min"] = cpu / state.iterations() * 60.0 / seconds();
}
BENCHMARK(BM_FfmpegTwoSourceCapture)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

void BM_EncodersAlone(benchmark::State& state) {
    QTemporaryDir folder;
    const QString tone = folder.filePath(QStringLiteral("tone.wav"));
    QProcess::execute("sox", {"-n", "-r", "48000", "-c", "2", "-b", "16", tone, "synth",
                              QString::number(seconds()), "sine", "440", "vol", "0.3"});
    double cpu = 0.0;
    for (auto _ : state) {
        const double before = cpuSeconds(RUSAGE_CHILDREN);
        QStringList arguments{"-v", "error", "-y", "-i", tone};
        arguments += QStringList{"-c:a", "aac", "-b:a", "192k", folder.filePath("mix.m4a")};
        for (const char* side : {"you.m4a", "them.m4a"}) {
            arguments += QStringList{
                "-ac", "1", "-ar", "24000", "-c:a", "aac", "-b:a", "48k", folder.filePath(side)};
        }
        if (QProcess::execute("ffmpeg", arguments) != 0) {
            state.SkipWithError("ffmpeg could not encode");
        }
        cpu += cpuSeconds(RUSAGE_CHILDREN) - before;
    }
    state.counters["cpu_s_per_recorded_min"] = cpu / state.iterations() * 60.0 / seconds();
}
BENCHMARK(BM_EncodersAlone)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
