// Merge speed of a long recording: the stop of a call recorded with its mixed track (stop to
// record in the catalogue, through RecordManager: a copy of the tracks), our audio mix of the
// two sides as a stop without that track does it, `ffmpeg -filter_complex amix` on the same
// two segments, and the passthrough of a screen recording (video and two audio tracks),
// each with the growth of the process's peak memory while it runs (the muxer's index grows
// with the length: ORVO_BENCH_MINUTES=480 gives an 8-hour call); and the open of a segment as
// the capture leaves it, which recovery does for each segment of each recording it finds.
// The recording lasts ORVO_BENCH_MINUTES minutes (60 unless set); its segments are made once
// with the ffmpeg tool in $TMPDIR/orvo-media-bench (a minute encoded, then repeated without
// re-encoding) and kept for later runs.
#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <benchmark/benchmark.h>

#include "ProcessMemory.h"
#include "platform/Platform.h"
#include "platform/linux/media/FFmpegMedia.h"
#include "recording/RecordManager.h"
#include "shell/API.h"
#include "shell/CopyFiles.h"
#include "store/Realm.h"

namespace {

using orvo::bench::statusMegabytes;

using namespace orvo;

int minutes() {
    const QByteArray value = qgetenv("ORVO_BENCH_MINUTES");
    return value.isEmpty() ? 60 : value.toInt();
}

QString folder() {
    const QString path = QDir::tempPath() + "/orvo-media-bench";
    QDir().mkpath(path);
    return path;
}

bool ffmpeg(const QStringList& arguments) {
    QProcess process;
    process.start("ffmpeg", QStringList{"-v", "error", "-y"} + arguments);
    return process.waitForFinished(-1) && process.exitCode() == 0;
}

// The file of `minutes()` minutes repeats a one-minute file encoded by `encode`, copied
// packet by packet, with the capture start tag.
QString longFile(const QString& name, const QString& extension, qint64 start,
                 const QStringList& encode) {
    const QString path =
        QStringLiteral("%1/%2-%3min.%4").arg(folder(), name).arg(minutes()).arg(extension);
    if (QFileInfo::exists(path)) {
        return path;
    }
    const QString minute = QStringLiteral("%1/%2-1min.%3").arg(folder(), name, extension);
    if (!QFileInfo::exists(minute)) {
        ffmpeg(encode + QStringList{minute});
    }
    ffmpeg({"-stream_loop", "-1", "-i", minute, "-t", QString::number(minutes() * 60), "-c", "copy",
            "-movflags", "+use_metadata_tags", "-metadata",
            QStringLiteral("org.orvo.capture-start=%1").arg(start), path});
    return path;
}

// A segment as our capture writes it: AAC at 192 kb/s, stereo 48 kHz, with its start.
QString segment(const QString& name, const QString& source, qint64 start) {
    return longFile(name, "m4a", start,
                    {"-f", "lavfi", "-i", source + ":d=60", "-ac", "2", "-ar", "48000", "-c:a",
                     "aac", "-b:a", "192k"});
}

// A side of a call as our capture writes it beside the mixed track: speech-quality mono.
QString side(const QString& name, const QString& source, qint64 start) {
    return longFile(name, "m4a", start,
                    {"-f", "lavfi", "-i", source + ":d=60", "-ac", "1", "-ar", "24000", "-c:a",
                     "aac", "-b:a", "48k"});
}

QString screen() {
    return longFile("screen", "mov", 1000000,
                    {"-f", "lavfi", "-i", "testsrc=size=1280x720:rate=15:d=60", "-c:v", "libx264",
                     "-preset", "ultrafast", "-g", "15", "-pix_fmt", "yuv420p"});
}

// Sets the peak back to what the process holds now, so that the next peak is the export's.
void resetPeakMemory() {
    QFile clearRefs("/proc/self/clear_refs");
    if (clearRefs.open(QIODevice::WriteOnly)) {
        clearRefs.write("5");
    }
}

void exportAndWait(ExportSession& session, benchmark::State& state) {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    session.exportAsynchronously([&] {
        std::lock_guard lock(mutex);
        finished = true;
        done.notify_all();
    });
    std::unique_lock lock(mutex);
    done.wait(lock, [&] { return finished; });
    if (session.status() != ExportStatus::completed) {
        state.SkipWithError(session.errorMessage().value_or("export failed").toUtf8().constData());
    }
}

MediaComposition overlay(FFmpegMedia& media, const QStringList& paths) {
    MediaComposition composition;
    for (const QString& path : paths) {
        const MediaType type = path.endsWith(".mov") ? MediaType::video : MediaType::audio;
        const MediaAsset asset = media.loadAsset(path);
        if (auto source = asset.firstTrack(type)) {
            composition.addMutableTrack(type)->insertTimeRange(source->timeRange(), *source, 0.0);
        }
    }
    return composition;
}

// The two audio segments of a call: the microphone's and the driver's, 12 ms later.
QStringList callSegments() {
    return {segment("microphone", "sine=f=1000", 1000000),
            segment("driver", "sine=f=440", 1012000)};
}

void exportWithOurs(const QStringList& paths, const QString& preset, MediaFileType type,
                    const QString& output, benchmark::State& state) {
    FFmpegMedia media;
    double growth = 0.0;
    for (auto _ : state) {
        QFile::remove(output);
        resetPeakMemory();
        const double before = statusMegabytes("VmRSS");
        auto session = media.makeExportSession(overlay(media, paths), preset);
        session->setOutputFileType(type);
        session->setOutputPath(output);
        exportAndWait(*session, state);
        growth = std::max(growth, statusMegabytes("VmHWM") - before);
    }
    state.counters["recorded_minutes"] = minutes();
    state.counters["peak_memory_growth_mb"] = growth;
}

void BM_OurAudioMix(benchmark::State& state) {
    exportWithOurs(callSegments(), exportPresetAppleM4A, MediaFileType::appleM4A,
                   folder() + "/ours.m4a", state);
}
BENCHMARK(BM_OurAudioMix)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// The segments a call with its mixed track leaves, linked into the records folder under a
// fresh stamp, in the order the recording wrote them.
std::vector<QString> placeMixedCall(QString* stamp) {
    const QStringList made{side("microphone-side", "sine=f=1000", 1000000),
                           side("driver-side", "sine=f=440", 1000000),
                           segment("mix", "sine=f=700", 1000000)};
    *stamp = RecordManager::freeStamp(QDateTime::currentDateTime());
    std::vector<QString> placed;
    for (const char* suffix : {"_0", "_1", "_mix"}) {
        placed.push_back(API::audioRecordsPath() + *stamp + QString::fromLatin1(suffix) +
                         API::audioExtension());
        ::link(QFile::encodeName(made[qsizetype(placed.size() - 1)]).constData(),
               QFile::encodeName(placed.back()).constData());
    }
    return placed;
}

void BM_OurStopWithTheMixedTrack(benchmark::State& state) {
    Platform::shared().install<Media>(std::make_unique<FFmpegMedia>());
    double growth = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        QString stamp;
        const std::vector<QString> segments = placeMixedCall(&stamp);
        resetPeakMemory();
        const double before = statusMegabytes("VmRSS");
        state.ResumeTiming();
        auto manager = RecordManager::recovered(stamp, segments);
        QEventLoop loop;
        bool success = false;
        manager->finalise([&](bool succeeded, std::optional<ErrorRecord>) {
            success = succeeded;
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        loop.exec();
        state.PauseTiming();
        growth = std::max(growth, statusMegabytes("VmHWM") - before);
        if (!success) {
            state.SkipWithError("the stop did not catalogue the record");
        }
        QFile::remove(API::audioRecordsPath() + manager->fileName());
        state.ResumeTiming();
    }
    state.counters["recorded_minutes"] = minutes();
    state.counters["peak_memory_growth_mb"] = growth;
}
BENCHMARK(BM_OurStopWithTheMixedTrack)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

void BM_FfmpegAmix(benchmark::State& state) {
    const QStringList paths = callSegments();
    const QString output = folder() + "/ffmpeg.m4a";
    for (auto _ : state) {
        if (!ffmpeg({"-i", paths[0], "-i", paths[1], "-filter_complex",
                     "amix=inputs=2:normalize=0,alimiter=limit=0.9:level=0", "-c:a", "aac", "-b:a",
                     "192k", output})) {
            state.SkipWithError("ffmpeg failed");
        }
    }
    state.counters["recorded_minutes"] = minutes();
}
BENCHMARK(BM_FfmpegAmix)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

void BM_OurPassthrough(benchmark::State& state) {
    exportWithOurs(callSegments() << screen(), exportPresetPassthrough, MediaFileType::mpeg4,
                   folder() + "/ours.mov", state);
}
BENCHMARK(BM_OurPassthrough)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// A segment as the capture leaves it, a fragment every half second: what recovery opens.
QString fragmentedSegment() {
    const QString path = QStringLiteral("%1/fragmented-%2min.m4a").arg(folder()).arg(minutes());
    if (!QFileInfo::exists(path)) {
        ffmpeg({"-i", segment("microphone", "sine=f=1000", 1000000), "-c", "copy", "-movflags",
                "+frag_keyframe+empty_moov+default_base_moof+use_metadata_tags", "-frag_duration",
                "500000", path});
    }
    return path;
}

void BM_OurOpenOfAFragmentedSegment(benchmark::State& state) {
    FFmpegMedia media;
    const QString path = fragmentedSegment();
    for (auto _ : state) {
        if (media.loadAsset(path).tracks.empty()) {
            state.SkipWithError("the segment does not open");
        }
    }
    state.counters["recorded_minutes"] = minutes();
}
BENCHMARK(BM_OurOpenOfAFragmentedSegment)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    // The catalogue and the records folder of the stop live in the bench's own home.
    const QString home = folder() + "/home";
    qputenv("HOME", QFile::encodeName(home));
    QCoreApplication application(argc, argv);
    CopyFiles::checkFilesAndCopy();
    Realm::setDefaultConfiguration({API::recordsRealmPath(), 1});
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
