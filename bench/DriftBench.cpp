// Drift between the two sides of a long recording. Records two PulseAudio sources at once with
// the real capture backend (one shared clock), plays one click to both sides at the same
// instant near the start and again near the end, and says where each click lands on the
// recording's clock (a segment's capture-start tag plus the click's sample position): the
// offset between the sides at the start, at the end, and how far it moved. The same is then
// measured on the merged file. Run it through bench/run-drift-bench, which sets up the sinks.
//
// bench_drift [--seconds N] [--sink SINK] [--click WAV] [--keep DIR] SOURCE_A SOURCE_B
#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include "platform/Media.h"
#include "platform/linux/FFmpegMedia.h"
#include "platform/linux/LinuxCapture.h"

namespace {

using namespace orvo;

constexpr int rate = 48000;
// Before the first click and after the last: the first one must not fall into the segments'
// first fragment, the last one must be captured before the stop.
constexpr auto margin = std::chrono::seconds(3);

class Finishes final : public CaptureFileOutputRecordingDelegate {
public:
    void fileOutputDidFinishRecording(CaptureFileOutput&, const QString& path,
                                      const std::optional<CaptureError>& error) override {
        std::lock_guard lock(mutex);
        ++count;
        if (error) {
            failures << path + ": " + error->localizedDescription;
        }
        changed.notify_all();
    }
    std::mutex mutex; // guards count, failures
    std::condition_variable changed;
    int count = 0;
    QStringList failures;
};

// The left channel at 48 kHz, decoded by the ffmpeg tool (as the tests check files).
std::vector<float> decode(const QString& path) {
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-v", "error", "-i", path, "-map", "0:a:0", "-af", "pan=mono|c0=c0",
                            "-ar", QString::number(rate), "-f", "f32le", "-"});
    QByteArray raw;
    while (ffmpeg.waitForReadyRead(-1) || ffmpeg.bytesAvailable() > 0) {
        raw += ffmpeg.readAllStandardOutput();
    }
    ffmpeg.waitForFinished(-1);
    std::vector<float> samples(std::size_t(raw.size()) / sizeof(float));
    std::memcpy(samples.data(), raw.constData(), samples.size() * sizeof(float));
    return samples;
}

// A click in samples[from, to): its first and last sample at half its peak or more.
struct Click {
    std::size_t onset = 0;
    std::size_t last = 0;
    double peak = 0.0;
};

std::optional<Click> findClick(const std::vector<float>& samples, std::size_t from,
                               std::size_t to) {
    to = std::min(to, samples.size());
    Click click;
    for (std::size_t i = from; i < to; ++i) {
        click.peak = std::max(click.peak, double(std::fabs(samples[i])));
    }
    // Silence and AAC noise stay far below a click.
    if (click.peak < 0.1) {
        return std::nullopt;
    }
    const double threshold = click.peak / 2.0;
    std::size_t i = from;
    while (std::fabs(samples[i]) < threshold) {
        ++i;
    }
    click.onset = i;
    // Two overlapping arrivals of the merged file stay within this window.
    const std::size_t windowEnd = std::min(to, i + std::size_t(rate / 5));
    for (; i < windowEnd; ++i) {
        if (std::fabs(samples[i]) >= threshold) {
            click.last = i;
        }
    }
    return click;
}

double milliseconds(double samples) {
    return samples * 1000.0 / rate;
}

struct Side {
    QString source;
    QString path;
    std::int64_t startMicroseconds = 0;
    std::vector<float> samples;
    std::optional<Click> first;
    std::optional<Click> second;

    // Where a click lands on the recording's clock, in ms after the epoch anchor given.
    double landing(const Click& click, std::int64_t anchor) const {
        return double(startMicroseconds - anchor) / 1000.0 + milliseconds(double(click.onset));
    }
};

bool record(const QStringList& sources, const QString& folder, const QString& sink,
            const QString& click, std::chrono::seconds length, std::vector<Side>& sides) {
    LinuxCapture capture;
    auto session = capture.makeSession();
    session->setSessionPreset(SessionPreset::high);
    std::vector<std::shared_ptr<CaptureFileOutput>> outputs;
    for (const QString& source : sources) {
        auto input = capture.makeDeviceInput(source);
        auto output = capture.makeAudioFileOutput();
        if (!input || !session->addInputWithNoConnections(input) ||
            !session->addOutputWithNoConnections(output) ||
            !session->addConnection(std::make_shared<CaptureConnection>(input, output))) {
            std::fprintf(stderr, "no capture device %s\n", qPrintable(source));
            return false;
        }
        outputs.push_back(output);
        sides.push_back(Side{source,
                             QDir(folder).filePath(QString("side_%1.m4a").arg(sides.size())),
                             0,
                             {},
                             std::nullopt,
                             std::nullopt});
    }
    const auto playClick = [&] {
        if (QProcess::execute("paplay", {"--device=" + sink, click}) != 0) {
            std::fprintf(stderr, "paplay could not play into %s\n", qPrintable(sink));
        }
    };
    Finishes finishes;
    session->startRunning();
    const auto started = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        outputs[i]->startRecording(sides[i].path, CaptureFileType::appleM4A, finishes);
    }
    std::this_thread::sleep_until(started + margin);
    playClick();
    std::printf("first click played; recording %lld s in all\n", (long long)length.count());
    std::fflush(stdout);
    std::this_thread::sleep_until(started + length - margin);
    playClick();
    std::this_thread::sleep_until(started + length);
    for (const auto& output : outputs) {
        output->stopRecording();
    }
    std::unique_lock lock(finishes.mutex);
    finishes.changed.wait(lock, [&] { return finishes.count == int(outputs.size()); });
    for (const QString& failure : finishes.failures) {
        std::fprintf(stderr, "recording failed: %s\n", qPrintable(failure));
    }
    return finishes.failures.isEmpty();
}

// Both segments merged as the recording engine merges them; the merged file's path.
std::optional<QString> merge(FFmpegMedia& media, const std::vector<Side>& sides,
                             const QString& folder) {
    MediaComposition composition;
    for (const Side& side : sides) {
        const auto source = media.loadAsset(side.path).firstTrack(MediaType::audio);
        auto* track = composition.addMutableTrack(MediaType::audio);
        if (!source || !track->insertTimeRange(source->timeRange(), *source, 0.0)) {
            return std::nullopt;
        }
    }
    auto session = media.makeExportSession(composition, exportPresetAppleM4A);
    const QString path = QDir(folder).filePath("merged.m4a");
    session->setOutputFileType(MediaFileType::appleM4A);
    session->setOutputPath(path);
    std::mutex mutex; // guards done
    std::condition_variable finished;
    bool done = false;
    session->exportAsynchronously([&] {
        std::lock_guard lock(mutex);
        done = true;
        finished.notify_all();
    });
    std::unique_lock lock(mutex);
    finished.wait(lock, [&] { return done; });
    if (session->status() != ExportStatus::completed) {
        std::fprintf(stderr, "merge failed: %s\n",
                     qPrintable(session->errorMessage().value_or("?")));
        return std::nullopt;
    }
    return path;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption secondsOption("seconds", "Length of the recording.", "N", "600");
    const QCommandLineOption sinkOption("sink", "Sink that plays to both sides.", "SINK", "both");
    const QCommandLineOption clickOption("click", "The click, a sound file.", "WAV");
    const QCommandLineOption keepOption("keep", "Leave the files in this folder.", "DIR");
    parser.addOptions({secondsOption, sinkOption, clickOption, keepOption});
    parser.addPositionalArgument("sources", "The two capture devices.", "SOURCE_A SOURCE_B");
    parser.process(app);
    const QStringList sources = parser.positionalArguments();
    const auto length = std::chrono::seconds(parser.value(secondsOption).toInt());
    if (sources.size() != 2 || !parser.isSet(clickOption) || length < 4 * margin) {
        std::fprintf(stderr, "needs --click, two sources and at least %lld s\n",
                     (long long)(4 * margin).count());
        return 2;
    }

    QTemporaryDir temporary;
    const QString folder = parser.isSet(keepOption) ? parser.value(keepOption) : temporary.path();
    QDir().mkpath(folder);
    std::vector<Side> sides;
    if (!record(sources, folder, parser.value(sinkOption), parser.value(clickOption), length,
                sides)) {
        return 1;
    }

    FFmpegMedia media;
    const std::size_t half = std::size_t(length.count()) * rate / 2;
    for (Side& side : sides) {
        const auto track = media.loadAsset(side.path).firstTrack(MediaType::audio);
        if (!track || !track->captureStartMicroseconds) {
            std::fprintf(stderr, "%s: no start tag\n", qPrintable(side.path));
            return 1;
        }
        side.startMicroseconds = *track->captureStartMicroseconds;
        side.samples = decode(side.path);
        side.first = findClick(side.samples, 0, half);
        side.second = findClick(side.samples, half, side.samples.size());
        std::printf("%-20s start tag %lld us, %.3f s decoded", qPrintable(side.source),
                    (long long)side.startMicroseconds, double(side.samples.size()) / rate);
        if (!side.first || !side.second) {
            std::printf(": click missing\n");
            return 1;
        }
        std::printf(", clicks at %.3f s and %.3f s (peaks %.2f, %.2f)\n",
                    double(side.first->onset) / rate, double(side.second->onset) / rate,
                    side.first->peak, side.second->peak);
    }

    const Side& a = sides[0];
    const Side& b = sides[1];
    const std::int64_t anchor = std::min(a.startMicroseconds, b.startMicroseconds);
    const double startOffset = b.landing(*b.first, anchor) - a.landing(*a.first, anchor);
    const double endOffset = b.landing(*b.second, anchor) - a.landing(*a.second, anchor);
    std::printf("segments (%s minus %s, on the shared clock):\n", qPrintable(b.source),
                qPrintable(a.source));
    std::printf("  start tags differ by   %8.3f ms\n",
                double(b.startMicroseconds - a.startMicroseconds) / 1000.0);
    std::printf("  offset at the start    %8.3f ms\n", startOffset);
    std::printf("  offset at the end      %8.3f ms\n", endOffset);
    std::printf("  drift (end - start)    %8.3f ms over %.1f s between the clicks\n",
                endOffset - startOffset,
                (a.landing(*a.second, anchor) - a.landing(*a.first, anchor)) / 1000.0);

    // The merged file mixes both sides into one track, so its two arrivals of one click are
    // told apart by how much longer the click got than a single side's: that is the offset's
    // size, its sign is lost (and below the click's own length AAC blurs it).
    const auto merged = merge(media, sides, folder);
    if (!merged) {
        return 1;
    }
    const std::vector<float> mix = decode(*merged);
    const std::size_t mixHalf = mix.size() / 2;
    const auto mixFirst = findClick(mix, 0, mixHalf);
    const auto mixSecond = findClick(mix, mixHalf, mix.size());
    if (!mixFirst || !mixSecond) {
        std::printf("merged: click missing\n");
        return 1;
    }
    const auto span = [](const Click& click) { return double(click.last - click.onset); };
    const double single = (span(*a.first) + span(*a.second) + span(*b.first) + span(*b.second)) / 4;
    const double mergedStart = milliseconds(span(*mixFirst) - single);
    const double mergedEnd = milliseconds(span(*mixSecond) - single);
    std::printf("merged file %s (%.3f s):\n", qPrintable(QFileInfo(*merged).fileName()),
                double(mix.size()) / rate);
    std::printf("  one side's click lasts %8.3f ms above half its peak\n", milliseconds(single));
    std::printf("  |offset| at the start  %8.3f ms (click %.3f ms long)\n",
                std::max(0.0, mergedStart), milliseconds(span(*mixFirst)));
    std::printf("  |offset| at the end    %8.3f ms (click %.3f ms long)\n",
                std::max(0.0, mergedEnd), milliseconds(span(*mixSecond)));
    const bool within = std::fabs(startOffset) <= 20.0 && std::fabs(endOffset) <= 20.0 &&
                        mergedStart <= 20.0 && mergedEnd <= 20.0;
    std::printf("%s\n", within ? "the sides stay within 20 ms of each other"
                               : "the sides are more than 20 ms apart");
    return within ? 0 : 1;
}
