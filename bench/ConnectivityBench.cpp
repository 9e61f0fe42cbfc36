// How soon a change of the network reaches the main thread as notificationConnectionStatus
// (goal: 100 ms), what one reading of the routing table costs, and how long the bug report
// takes to pack a week of log files. The network runs in a namespace of this process's
// own (root), so the machine's routes stay as they are.
#include <sched.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <optional>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include "connectivity/ConnectionManager.h"
#include "platform/Platform.h"
#include "platform/linux/network/LinuxNetworkReachability.h"
#include "platform/linux/network/RtnetlinkTarget.h"
#include "support/BugReportArchive.h"

namespace {

using orvo::ConnectionManager;
using Connection = orvo::Reachability::Connection;

constexpr int waitLimitMs = 5000;
constexpr int dayFiles = 7;
constexpr int dayFileBytes = 256 * 1024;

bool ip(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("ip"), arguments);
    return process.waitForFinished() && process.exitCode() == 0;
}

// A link with an address, up, in the private namespace.
bool prepareNetwork() {
    const bool added = ip({"link", "add", "orvo0", "type", "dummy"}) ||
                       ip({"link", "add", "orvo0", "type", "veth", "peer", "name", "orvo0p"});
    return added && ip({"address", "add", "192.0.2.10/24", "dev", "orvo0"}) &&
           ip({"link", "set", "orvo0", "up"});
}

// The next connection told on the main thread.
std::optional<Connection> nextConnection(std::optional<Connection>& told) {
    told.reset();
    for (QDeadlineTimer deadline(waitLimitMs); !told && !deadline.hasExpired();) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents,
                                        int(deadline.remainingTime()));
    }
    return told;
}

void BM_RouteChangeToConnectionStatus(benchmark::State& state) {
    std::optional<Connection> told;
    const auto observation = orvo::NotificationCenter::shared().addObserver(
        ConnectionManager::notificationConnectionStatus, nullptr,
        [&told](const auto& note) { told = ConnectionManager::connectionOf(note); });
    ConnectionManager manager;
    manager.observeReachability();
    if (nextConnection(told) != Connection::unavailable) {
        state.SkipWithError("no first state");
        return;
    }
    for (auto _ : state) {
        // The time from the route's change in the kernel: ip's own start is not ours.
        QProcess add;
        add.start(QStringLiteral("ip"), {"route", "add", "default", "dev", "orvo0"});
        add.waitForFinished();
        const auto changed = std::chrono::steady_clock::now();
        const auto connection = nextConnection(told);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - changed).count());
        if (connection != Connection::wifi || !ip({"route", "del", "default"}) ||
            nextConnection(told) != Connection::unavailable) {
            state.SkipWithError("the change was not told");
            return;
        }
    }
}
BENCHMARK(BM_RouteChangeToConnectionStatus)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_ReadFlags(benchmark::State& state) {
    orvo::RtnetlinkTarget target;
    for (auto _ : state) {
        benchmark::DoNotOptimize(target.flags());
    }
}
BENCHMARK(BM_ReadFlags)->Unit(benchmark::kMicrosecond);

void BM_PackBugReport(benchmark::State& state) {
    QTemporaryDir folder;
    QStringList files;
    for (int day = 1; day <= dayFiles; ++day) {
        QFile file(folder.filePath(QStringLiteral("2026-12-0%1.txt").arg(day)));
        file.open(QIODevice::WriteOnly);
        for (int written = 0; written < dayFileBytes; written += 80) {
            file.write("2026-12-07 06:45:40 Event: info Value: Add/Remove new input device ...\n");
        }
        files << file.fileName();
    }
    const QString archive = folder.filePath(QStringLiteral("Bug report.zip"));
    for (auto _ : state) {
        benchmark::DoNotOptimize(orvo::BugReportArchive::create(archive, files));
    }
}
BENCHMARK(BM_PackBugReport)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    QDir(home.path()).mkdir("Documents");
    QCoreApplication application(argc, argv);
    if (geteuid() != 0 || ::unshare(CLONE_NEWNET) != 0 || !prepareNetwork()) {
        std::cerr << "bench_connectivity: needs root for a network namespace of its own\n";
        return EXIT_FAILURE;
    }
    orvo::Platform::shared().install<orvo::NetworkReachability>(
        std::make_unique<orvo::LinuxNetworkReachability>());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return EXIT_SUCCESS;
}
