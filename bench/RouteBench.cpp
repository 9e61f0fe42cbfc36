// Calls recorded one after another through the program's own wiring (the tray's start and stop),
// each with three far-side players: one that plays before the start and follows the default
// output, one that starts during the call, and one that names a device of its own, so that
// the server keeps it there. A side counts as missing in a call when its tone is absent from
// its track for more than half a second where it played. Run it through bench/run-route-bench,
// which brings the servers, the devices, the microphone's tone and the CPU burners.
//
// bench_route [--calls N]
#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QMenu>
#include <QProcess>
#include <QTemporaryDir>

#include "EventWait.h"
#include "LaunchedTray.h"
#include "integration/platform/MediaCheck.h"
#include "platform/Platform.h"
#include "platform/linux/sound/LinuxAudioHardware.h"
#include "shell/API.h"
#include "store/Realm.h"
#include "store/RealmRecordModel.h"
#include "store/Results.h"
#include "tray/OrvoMenuTray.h"

namespace {

using orvo::bench::wait;
using orvo::bench::waitFor;

using namespace orvo;

constexpr double window = 0.02;    // seconds
constexpr double heard = 0.05;     // the tones play at 0.3
constexpr double allowedGap = 0.5; // seconds
constexpr int callMs = 4000;
constexpr int duringStartsAtMs = 1500;
constexpr int youTrack = 1;
constexpr int themTrack = 2;

// Seconds of [from, to) in which the tone is absent, in 20-ms windows.
double absentSeconds(const std::vector<float>& samples, double frequency, double from, double to) {
    double absent = 0.0;
    for (double at = from; at + window <= to; at += window) {
        absent += test::toneAmplitude(samples, frequency, at, at + window) > heard ? 0.0 : window;
    }
    return absent;
}

std::set<QString> catalogue() {
    std::set<QString> names;
    auto all = realm().objects();
    for (int i = 0; i < all.size(); ++i) {
        names.insert(all.at(i)->fileName());
    }
    return names;
}

struct Call {
    bool started = false;
    qint64 confirmedMs = 0;
    bool farMissing = false;
    bool nearMissing = false;
    QString absent; // which tone was missing how long, for the calls that lost a side
};

Call recordOnce(OrvoMenuTray& tray, QAction& start, const QString& folder) {
    Call call;
    const std::set<QString> before = catalogue();
    // The default output's player follows it; the named one stays on its device.
    test::TonePlayer following(folder, QString(), 440, 0.3);
    test::TonePlayer named(folder, QStringLiteral("bench_elsewhere"), 880, 0.3);
    waitFor([&] { return following.playing() && named.playing(); }, 5000);

    QElapsedTimer clock;
    clock.start();
    start.trigger();
    if (!waitFor([&] { return tray.isRecord(); }, 15000)) {
        std::fprintf(stderr, "a start failed\n");
        return call;
    }
    call.started = true;
    call.confirmedMs = clock.elapsed();
    wait(duringStartsAtMs);
    const double duringFrom = double(clock.elapsed() - call.confirmedMs) / 1000.0;
    test::TonePlayer during(folder, QStringLiteral("@DEFAULT_SINK@"), 660, 0.3);
    wait(callMs - duringStartsAtMs);
    start.trigger();
    waitFor([&] { return !tray.isStopping(); }, 60000);

    QString added;
    for (const QString& name : catalogue()) {
        added = before.contains(name) ? added : name;
    }
    if (added.isEmpty()) {
        call.farMissing = call.nearMissing = true;
        return call;
    }
    const QString path = API::audioRecordsPath() + added;
    const auto them = test::decodeAudio(path, themTrack);
    const auto you = test::decodeAudio(path, youTrack);
    const double end = double(them.size()) / 48000.0 - 0.1;
    // A player just started needs a moment of its own before it plays.
    const double followed = absentSeconds(them, 440, 0.0, end);
    const double elsewhere = absentSeconds(them, 880, 0.0, end);
    const double joined = absentSeconds(them, 660, duringFrom + 0.3, end);
    const double near = absentSeconds(you, 1000, 0.0, end);
    call.farMissing = std::max({followed, elsewhere, joined}) > allowedGap;
    call.nearMissing = near > allowedGap;
    call.absent = QStringLiteral("absent s: following %1, named device %2, joined %3, "
                                 "microphone %4 of %5 s")
                      .arg(followed, 0, 'f', 2)
                      .arg(elsewhere, 0, 'f', 2)
                      .arg(joined, 0, 'f', 2)
                      .arg(near, 0, 'f', 2)
                      .arg(end, 0, 'f', 2);
    return call;
}

qint64 percentile(std::vector<qint64> values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(fraction * double(values.size())))];
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({"calls", "calls to record", "N", "50"});
    parser.process(app);

    auto launched = LaunchedTray::launch();
    if (!launched) {
        return 1;
    }
    OrvoMenuTray& tray = *launched->tray;
    QAction* start = launched->start;
    QTemporaryDir folder;
    const int calls = parser.value("calls").toInt();
    int farMissing = 0;
    int nearMissing = 0;
    std::vector<qint64> confirmed;
    for (int i = 0; i < calls; ++i) {
        wait(500);
        const Call call = recordOnce(tray, *start, folder.path());
        farMissing += call.farMissing || !call.started ? 1 : 0;
        nearMissing += call.nearMissing || !call.started ? 1 : 0;
        if (call.started) {
            confirmed.push_back(call.confirmedMs);
        }
        std::fprintf(stderr, "call %d: %s%s%s (%s)\n", i + 1, call.started ? "started" : "no start",
                     call.farMissing ? ", far side missing" : "",
                     call.nearMissing ? ", microphone missing" : "", qPrintable(call.absent));
    }
    std::printf("calls %d, far side missing %d, microphone missing %d, start confirmed in "
                "%lld/%lld ms\n",
                calls, farMissing, nearMissing, percentile(confirmed, 0.5),
                percentile(confirmed, 0.95));
    return farMissing == 0 && nearMissing == 0 ? 0 : 1;
}
