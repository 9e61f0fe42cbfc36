// Cost of the shell operations that run on hot paths: the technical log (from every
// thread), the icon-name digest and the number masks of every table row.
#include <cstdlib>
#include <iostream>

#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include "shell/API.h"
#include "shell/CopyFiles.h"
#include "shell/Formatting.h"
#include "shell/Logging.h"

namespace {

void BM_LoggingWrite(benchmark::State& state) {
    int i = 0;
    for (auto _ : state) {
        orvo::Logging::write(QString("bench entry %1").arg(i++), orvo::EventLoging::info);
    }
}
BENCHMARK(BM_LoggingWrite)->Threads(1)->Threads(4);

void BM_MD5(benchmark::State& state) {
    const QString name = "Mail.Ru Agent.app";
    for (auto _ : state) {
        benchmark::DoNotOptimize(orvo::MD5(name));
    }
}
BENCHMARK(BM_MD5);

void BM_ConvertToNumberFormate(benchmark::State& state) {
    const QString number = "79161234567";
    for (auto _ : state) {
        benchmark::DoNotOptimize(orvo::convertToNumberFormate(number));
    }
}
BENCHMARK(BM_ConvertToNumberFormate);

} // namespace

int main(int argc, char** argv) {
    // The log's console copy would drown the report.
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    QDir(home.path()).mkdir("Documents");
    orvo::CopyFiles::checkFilesAndCopy();
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        return EXIT_FAILURE;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::ConsoleReporter reporter;
    reporter.SetOutputStream(&std::cerr);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return EXIT_SUCCESS;
}
