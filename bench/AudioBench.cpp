// Time of one recording's device work on a private PulseAudio daemon with the driver
// installed: build the aggregate, make it the default output, restore the former output and
// destroy the aggregate. Also the plain device listing that the input watcher does every 2 s.
#include <cstdlib>
#include <iostream>
#include <memory>

#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include "audio/AudioManager.h"
#include "platform/Platform.h"
#include "platform/linux/sound/LinuxAudioHardware.h"
#include "support/PrivateSoundServer.h"

namespace {

void BM_AggregateCreateRemoveCycle(benchmark::State& state) {
    using orvo::AudioManager;
    for (auto _ : state) {
        orvo::AudioRoute route;
        const auto status = AudioManager::createAggregateDeviceWithDefaultDevice(route);
        if (status != std::optional<orvo::AudioStatus>(orvo::noErr) ||
            AudioManager::switchToAggregate(route) != orvo::noErr) {
            state.SkipWithError("the aggregate could not be created or made the default");
            break;
        }
        AudioManager::restoreRoute(route);
    }
}
BENCHMARK(BM_AggregateCreateRemoveCycle)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_InputAudioDevices(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(orvo::AudioManager::inputAudioDevices());
    }
}
BENCHMARK(BM_InputAudioDevices)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    orvo::test::PrivateSoundServer server;
    if (!server.startError().isEmpty()) {
        std::cerr << server.startError().toStdString() << '\n';
        return EXIT_FAILURE;
    }
    const QString installError = server.runDriverScript("install_driver");
    if (!installError.isEmpty()) {
        std::cerr << installError.toStdString() << '\n';
        return EXIT_FAILURE;
    }
    orvo::LinuxAudioHardware::Options options;
    options.server = server.address();
    options.driverRoot = server.driverRoot();
    orvo::Platform::shared().install<orvo::AudioHardware>(
        std::make_unique<orvo::LinuxAudioHardware>(options));

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return EXIT_SUCCESS;
}
