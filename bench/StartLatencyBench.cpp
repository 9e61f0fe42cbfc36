// How long after the start action the first sound of an already-playing source is in the
// recording: a call recorded from the tray as a user starts it (the sources opened, the default
// output switched to the combined output that the idle program made ahead), with a tone
// playing on each side before the click. Beside it, `ffmpeg -f pulse` started at the same moment on
// the microphone and on the monitor of the speakers (where the far side plays before the switch):
// what a fresh client of the same server needs. Run it through bench/run-start-bench.
//
// bench_start_latency [--runs N]
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QProcess>
#include <QTemporaryDir>

#include "EventWait.h"
#include "LaunchedTray.h"
#include "integration/platform/MediaCheck.h"
#include "platform/Platform.h"
#include "platform/linux/sound/LinuxAudioHardware.h"
#include "shell/API.h"
#include "tray/OrvoMenuTray.h"

namespace {

using orvo::bench::wait;
using orvo::bench::waitFor;

using namespace orvo;

constexpr int rate = 48000;
constexpr double window = 0.02; // seconds
constexpr double farTone = 440.0;
constexpr double nearTone = 1000.0;
constexpr double heard = 0.05; // the tones play at 0.3
constexpr int recordMs = 3000;

qint64 nowMicros() {
    return QDateTime::currentMSecsSinceEpoch() * 1000;
}

QByteArray run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(-1);
    return process.readAllStandardOutput();
}

// Microseconds into the file of the first 20-ms window that holds the tone.
std::optional<qint64> firstTone(const QString& path, double frequency) {
    const auto samples = test::decodeAudio(path);
    const double seconds = double(samples.size()) / rate;
    for (double at = 0.0; at + window <= seconds; at += window) {
        if (test::toneAmplitude(samples, frequency, at, at + window) > heard) {
            return qint64(std::llround(at * 1e6));
        }
    }
    return std::nullopt;
}

QJsonObject probeFormat(const QString& path) {
    const QByteArray json =
        run("ffprobe", {"-v", "error", "-print_format", "json", "-show_format", path});
    return QJsonDocument::fromJson(json).object().value("format").toObject();
}

// A fresh `ffmpeg -f pulse` recording of source, started now.
struct FfmpegRecording {
    FfmpegRecording(const QString& source, const QString& path) : path(path) {
        process = std::make_unique<QProcess>();
        process->start("ffmpeg", {"-v", "error", "-y", "-t", "2.5", "-f", "pulse", "-i", source,
                                  "-c:a", "pcm_f32le", "-copyts", "-f", "nut", path});
    }
    // When its first sample was captured, by the demuxer's wall-clock stamps.
    std::optional<qint64> firstToneAt(double frequency) {
        process->waitForFinished(-1);
        const double start = probeFormat(path).value("start_time").toString().toDouble();
        const auto offset = firstTone(path, frequency);
        if (start <= 0.0 || !offset) {
            return std::nullopt;
        }
        return qint64(std::llround(start * 1e6)) + *offset;
    }
    QString path;
    std::unique_ptr<QProcess> process;
};

QString ms(std::optional<qint64> micros) {
    return micros ? QString::number(double(*micros) / 1000.0, 'f', 0) : QStringLiteral("none");
}

struct Run {
    std::optional<qint64> ourNear, ourFar, ffmpegNear, ffmpegFar, atDriver, started;
};

// Our segments while they are written: each carries its capture start; which side it is
// shows by its tone.
void measureSegments(qint64 clickedAt, Run& result) {
    const QDir folder(API::audioRecordsPath());
    for (const QFileInfo& file : folder.entryInfoList({"*_*.m4a"}, QDir::Files, QDir::Time)) {
        const qint64 start = probeFormat(file.filePath())
                                 .value("tags")
                                 .toObject()
                                 .value("org.orvo.capture-start")
                                 .toString()
                                 .toLongLong();
        if (start == 0) {
            continue;
        }
        if (const auto near = firstTone(file.filePath(), nearTone); near && !result.ourNear) {
            result.ourNear = start + *near - clickedAt;
        } else if (const auto far = firstTone(file.filePath(), farTone); far && !result.ourFar) {
            result.ourFar = start + *far - clickedAt;
        }
    }
}

Run recordOnce(OrvoMenuTray& tray, QAction& start, const QString& scratch) {
    Run result;
    FfmpegRecording near("microphone", scratch + "/near.nut");
    FfmpegRecording far("speakers.monitor", scratch + "/far.nut");
    // When the far side reaches the driver's input, whoever records it.
    FfmpegRecording driver("orvo_record_device_input", scratch + "/driver.nut");
    const qint64 clickedAt = nowMicros();
    start.trigger();
    if (!waitFor([&] { return tray.isRecord(); }, 10000)) {
        std::fprintf(stderr, "the recording did not start\n");
        return result;
    }
    result.started = nowMicros() - clickedAt;
    wait(recordMs);
    measureSegments(clickedAt, result);
    start.trigger();
    waitFor([&] { return !tray.isStopping(); }, 60000);
    if (const auto at = near.firstToneAt(nearTone)) {
        result.ffmpegNear = *at - clickedAt;
    }
    if (const auto at = far.firstToneAt(farTone)) {
        result.ffmpegFar = *at - clickedAt;
    }
    if (const auto at = driver.firstToneAt(farTone)) {
        result.atDriver = *at - clickedAt;
    }
    return result;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({"runs", "recordings to measure", "N", "4"});
    parser.process(app);

    auto launched = LaunchedTray::launch();
    if (!launched) {
        return 1;
    }
    OrvoMenuTray& tray = *launched->tray;
    QAction* start = launched->start;
    QTemporaryDir scratch;
    std::printf("first sound after the click, ms: ours (microphone, far side), "
                "ffmpeg -f pulse (microphone, speakers.monitor); the far side at the driver's "
                "input; the tray shows the recording\n");
    for (int i = 0; i < parser.value("runs").toInt(); ++i) {
        wait(1000);
        const Run r = recordOnce(tray, *start, scratch.path());
        std::printf("run %d: ours %s %s   ffmpeg %s %s   driver %s   tray %s\n", i + 1,
                    qPrintable(ms(r.ourNear)), qPrintable(ms(r.ourFar)),
                    qPrintable(ms(r.ffmpegNear)), qPrintable(ms(r.ffmpegFar)),
                    qPrintable(ms(r.atDriver)), qPrintable(ms(r.started)));
        std::fflush(stdout);
    }
    return 0;
}
