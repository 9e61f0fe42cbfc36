// Drift between the two sides of a long recording. Records two PulseAudio sources at once with
// the real capture backend (one shared clock), plays one click to both sides at the same
// instant near the start, near the end and every --interval seconds between, and says where
// each click lands on the recording's clock (a segment's capture-start tag plus the click's
// sample position): the offset between the sides at each click and how far it moved from the
// start to the end. The same is then measured on the merged file. Run it through
// bench/run-drift-bench, which sets up the sinks.
//
// bench_drift [--seconds N] [--interval N] [--sink SINK] --click WAV [--keep DIR] SOURCE_A SOURCE_B
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
#include "platform/Platform.h"
#include "platform/linux/capture/LinuxCapture.h"
#include "platform/linux/media/FFmpegMedia.h"
#include "platform/linux/sound/LinuxAudioHardware.h"

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

// One arrival of a click: its first and last sample above the threshold.
struct Click {
    std::size_t onset = 0;
    std::size_t last = 0;
    double span() const { return double(last - onset); }
};

// The clicks are 0.45 of full scale; silence and AAC's noise stay far below this.
constexpr float threshold = 0.2f;
// Samples above the threshold closer than this belong to one arrival.
constexpr std::size_t joined = rate / 200;

std::vector<Click> arrivals(const std::vector<float>& samples) {
    std::vector<Click> found;
    for (std::size_t i = 0; i < samples.size(); ++i) {
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

double milliseconds(double samples) {
    return samples * 1000.0 / rate;
}

struct Side {
    QString source;
    QString path;
    std::int64_t startMicroseconds = 0;
    std::vector<Click> clicks;

    // Where click i lands on the recording's clock, in ms after anchor (epoch microseconds).
    double landing(std::size_t i, std::int64_t anchor) const {
        return double(startMicroseconds - anchor) / 1000.0 + milliseconds(double(clicks[i].onset));
    }
};

// When the clicks are played, from the start of recording: one after margin, then one every
// interval, the last margin before the end.
std::vector<std::chrono::seconds> schedule(std::chrono::seconds length,
                                           std::chrono::seconds interval) {
    std::vector<std::chrono::seconds> times;
    for (auto at = margin; at < length - margin - interval / 2; at += interval) {
        times.push_back(at);
    }
    times.push_back(length - margin);
    return times;
}

bool record(const QStringList& sources, const QString& folder, const QString& sink,
            const QString& click, std::chrono::seconds length,
            const std::vector<std::chrono::seconds>& clickTimes, std::vector<Side>& sides) {
    LinuxCapture capture{static_cast<LinuxAudioHardware&>(Platform::shared().get<AudioHardware>())};
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
        sides.push_back(
            Side{source, QDir(folder).filePath(QString("side_%1.m4a").arg(sides.size())), 0, {}});
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
    std::printf("recording %lld s, %zu clicks\n", (long long)length.count(), clickTimes.size());
    std::fflush(stdout);
    for (const auto at : clickTimes) {
        std::this_thread::sleep_until(started + at);
        playClick();
    }
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
    const QCommandLineOption intervalOption("interval", "Seconds between clicks.", "N", "60");
    const QCommandLineOption sinkOption("sink", "Sink that plays to both sides.", "SINK", "both");
    const QCommandLineOption clickOption("click", "The click, a sound file.", "WAV");
    const QCommandLineOption keepOption("keep", "Leave the files in this folder.", "DIR");
    parser.addOptions({secondsOption, intervalOption, sinkOption, clickOption, keepOption});
    parser.addPositionalArgument("sources", "The two capture devices.", "SOURCE_A SOURCE_B");
    parser.process(app);
    const QStringList sources = parser.positionalArguments();
    const auto length = std::chrono::seconds(parser.value(secondsOption).toInt());
    const auto interval = std::chrono::seconds(parser.value(intervalOption).toInt());
    if (sources.size() != 2 || !parser.isSet(clickOption) || length < 4 * margin ||
        interval < std::chrono::seconds(2)) {
        std::fprintf(stderr, "needs --click, two sources, at least %lld s and clicks 2 s apart\n",
                     (long long)(4 * margin).count());
        return 2;
    }

    // The capture knows its sources through the audio hardware's connection.
    Platform::shared().install<AudioHardware>(std::make_unique<LinuxAudioHardware>());
    QTemporaryDir temporary;
    const QString folder = parser.isSet(keepOption) ? parser.value(keepOption) : temporary.path();
    QDir().mkpath(folder);
    const auto clickTimes = schedule(length, interval);
    std::vector<Side> sides;
    if (!record(sources, folder, parser.value(sinkOption), parser.value(clickOption), length,
                clickTimes, sides)) {
        return 1;
    }

    FFmpegMedia media;
    for (Side& side : sides) {
        const auto track = media.loadAsset(side.path).firstTrack(MediaType::audio);
        if (!track || !track->captureStartMicroseconds) {
            std::fprintf(stderr, "%s: no start tag\n", qPrintable(side.path));
            return 1;
        }
        side.startMicroseconds = *track->captureStartMicroseconds;
        const std::vector<float> samples = decode(side.path);
        side.clicks = arrivals(samples);
        std::printf("%-18s start tag %lld us, %.3f s decoded, %zu clicks found\n",
                    qPrintable(side.source), (long long)side.startMicroseconds,
                    double(samples.size()) / rate, side.clicks.size());
        if (side.clicks.size() != clickTimes.size()) {
            std::fprintf(stderr, "expected %zu clicks\n", clickTimes.size());
            return 1;
        }
    }

    // The merged file mixes both sides into one track: two arrivals of a click farther apart
    // than the click itself are told apart; closer ones make one longer click, longer by the
    // offset. Either way the offset's size, not its sign.
    const Side& a = sides[0];
    const Side& b = sides[1];
    const auto merged = merge(media, sides, folder);
    const std::vector<Click> mixed = merged ? arrivals(decode(*merged)) : std::vector<Click>{};
    double single = 0.0;
    for (std::size_t i = 0; i < clickTimes.size(); ++i) {
        single += (a.clicks[i].span() + b.clicks[i].span()) / 2.0 / double(clickTimes.size());
    }
    const std::int64_t anchor = std::min(a.startMicroseconds, b.startMicroseconds);
    std::printf("offsets of %s minus %s on the shared clock (start tags differ by %.3f ms);\n"
                "merged: |offset| and where its first arrival lies against the segments' tags\n",
                qPrintable(b.source), qPrintable(a.source),
                double(b.startMicroseconds - a.startMicroseconds) / 1000.0);
    // Each side on its own: a side whose first samples were misplaced shows here, not only in
    // the difference.
    for (const Side& side : sides) {
        std::printf("%-18s first click %.3f ms after its scheduled time\n", qPrintable(side.source),
                    side.landing(0, anchor) -
                        double(std::chrono::milliseconds(clickTimes[0]).count()));
    }
    std::vector<double> offsets;
    double worst = 0.0;
    for (std::size_t i = 0; i < clickTimes.size(); ++i) {
        const double landingA = a.landing(i, anchor);
        const double landingB = b.landing(i, anchor);
        offsets.push_back(landingB - landingA);
        worst = std::max(worst, std::fabs(offsets.back()));
        std::printf("  click at %4lld s: %9.3f ms", (long long)clickTimes[i].count(),
                    offsets.back());
        // The merge lays the segments out from the earlier start.
        const double first = std::min(landingA, landingB);
        const double lastSide = std::max(landingA, landingB);
        std::vector<Click> near;
        for (const Click& click : mixed) {
            const double at = milliseconds(double(click.onset));
            if (at > first - 1000.0 && at < lastSide + 1000.0) {
                near.push_back(click);
            }
        }
        if (near.empty()) {
            std::printf("   merged: not found\n");
            continue;
        }
        const double mergedOffset =
            near.size() > 1 ? milliseconds(double(near.back().onset - near.front().onset))
                            : std::max(0.0, milliseconds(near.front().span() - single));
        worst = std::max(worst, mergedOffset);
        std::printf("   merged: %9.3f ms (%zu arrival%s, at %+.3f ms)\n", mergedOffset, near.size(),
                    near.size() > 1 ? "s" : "", milliseconds(double(near.front().onset)) - first);
    }
    std::printf(
        "start offset %.3f ms, end offset %.3f ms, drift (end - start) %.3f ms over %lld s\n",
        offsets.front(), offsets.back(), offsets.back() - offsets.front(),
        (long long)(clickTimes.back() - clickTimes.front()).count());
    if (!merged) {
        std::printf("the merge failed\n");
        return 1;
    }
    std::printf("%s (largest %.3f ms)\n",
                worst <= 20.0 ? "the sides stay within 20 ms of each other"
                              : "the sides are more than 20 ms apart",
                worst);
    return worst <= 20.0 ? 0 : 1;
}
