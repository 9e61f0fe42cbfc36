// Memory of a long call: records the microphone and the driver through the combined output,
// as the program does, while a tone plays to the far side, and samples the resident set size
// every --sample seconds. Says how much it grew from the first sample (taken once the
// recording has settled) to the last, and whether that stays under 1 MB. Run it through
// bench/run-soak-bench, which starts a private sound server with the driver installed.
//
// bench_soak [--minutes N] [--sample SECONDS]
#include <cstdio>
#include <memory>
#include <optional>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include "audio/AudioManager.h"
#include "platform/Platform.h"
#include "platform/linux/capture/LinuxCapture.h"
#include "platform/linux/media/FFmpegMedia.h"
#include "platform/linux/sound/LinuxAudioHardware.h"
#include "recording/RecordManager.h"
#include "shell/API.h"
#include "shell/CopyFiles.h"
#include "store/Realm.h"

namespace {

using namespace orvo;

constexpr double growthLimitKilobytes = 1024.0;

// Resident set size in kB, from /proc.
long residentKilobytes() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').first().toLong();
        }
    }
    return 0;
}

std::vector<std::optional<AudioCaptureDevice>> callDevices() {
    std::optional<AudioCaptureDevice> microphone;
    for (const auto& device : AudioManager::inputAudioDevices()) {
        if (device.uniqueID == "microphone") {
            microphone = device;
        }
    }
    // The driver as the program records it.
    return {microphone, AudioManager::driverCaptureDevice()};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption minutesOption("minutes", "Length of the recording.", "N", "30");
    const QCommandLineOption sampleOption("sample", "Seconds between samples.", "S", "60");
    parser.addOptions({minutesOption, sampleOption});
    parser.process(app);
    const double minutes = parser.value(minutesOption).toDouble();
    const int sampleSeconds = parser.value(sampleOption).toInt();
    if (minutes <= 0 || sampleSeconds <= 0) {
        std::fprintf(stderr, "needs a positive --minutes and --sample\n");
        return 2;
    }

    auto& platform = Platform::shared();
    LinuxAudioHardware::Options options;
    options.driverRoot = qEnvironmentVariable("ORVO_DRIVER_TEST_ROOT");
    auto hardware = std::make_unique<LinuxAudioHardware>(options);
    platform.install<Capture>(std::make_unique<LinuxCapture>(*hardware));
    platform.install<AudioHardware>(std::move(hardware));
    platform.install<Media>(std::make_unique<FFmpegMedia>());
    CopyFiles::checkFilesAndCopy();
    Realm::setDefaultConfiguration({API::recordsRealmPath(), 1});

    AudioRoute route;
    if (AudioManager::createAggregateDeviceWithDefaultDevice(route) != std::optional(noErr) ||
        AudioManager::switchToAggregate(route) != noErr) {
        std::fprintf(stderr, "no combined output: is the driver installed?\n");
        return 1;
    }
    auto manager = RecordManager::create(callDevices(), false, SessionPreset::high);
    if (!manager) {
        std::fprintf(stderr, "no capture session\n");
        return 1;
    }
    manager->startRecord();

    std::vector<long> samples;
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        samples.push_back(residentKilobytes());
        std::printf("%7.1f min  RSS %ld kB\n", double(elapsed.elapsed()) / 60000.0, samples.back());
        std::fflush(stdout);
    });
    sampler.start(sampleSeconds * 1000);
    bool success = false;
    QTimer::singleShot(int(minutes * 60000), [&] {
        sampler.stop();
        manager->stopRecord([&](bool ok, std::optional<ErrorRecord>) {
            success = ok;
            QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
        });
    });
    app.exec();
    AudioManager::restoreRoute(route);

    if (samples.size() < 2) {
        std::fprintf(stderr, "fewer than two samples: record longer or sample more often\n");
        return 1;
    }
    const double growth = double(samples.back() - samples.front());
    std::printf("recording %s; RSS %ld kB at the first sample, %ld kB at the last: %+.0f kB "
                "over %.1f min (%s 1 MB)\n",
                success ? "finalised" : "NOT finalised", samples.front(), samples.back(), growth,
                minutes, growth < growthLimitKilobytes ? "under" : "OVER");
    return success && growth < growthLimitKilobytes ? 0 : 1;
}
