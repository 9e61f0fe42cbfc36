// The echo stage on a synthetic call of a minute and more (flite voices, the far side heard
// through a room at 50, 150 and 300 ms): CPU per minute of call and the echo it removes where
// only the far side speaks, beside speexdsp's canceller given the same measured delay; and
// what the stage costs while a call is recorded, and written again into a saved file.
//
// bench_echo
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <speex/speex_echo.h>

#include "platform/linux/capture/EchoFreeSideStage.h"
#include "platform/linux/echo/WebRtcEchoCanceller.h"
#include "platform/linux/media/FFmpegMedia.h"
#include "platform/linux/signal/EchoDelay.h"
#include "support/SyntheticCall.h"

namespace {

using orvo::test::energy;
using orvo::test::SyntheticCall;
constexpr int rate = SyntheticCall::rate;
// As the WebRTC stage: the far side moved up to 30 ms before the measured delay.
constexpr int marginMs = 30;
constexpr int speexFrame = 160;
constexpr int speexTail = rate * 128 / 1000;

double cpuSeconds() {
    return double(std::clock()) / CLOCKS_PER_SEC;
}

std::int16_t toShort(float sample) {
    return std::int16_t(std::clamp(sample * 32768.0f, -32768.0f, 32767.0f));
}

// speexdsp's canceller on the far side aligned by the delay.
std::vector<float> speexCancelled(const std::vector<float>& microphone,
                                  const std::vector<float>& far, std::size_t delay) {
    const std::size_t margin = rate * marginMs / 1000;
    const std::size_t shift = delay > margin ? delay - margin : 0;
    SpeexEchoState* state = speex_echo_state_init(speexFrame, speexTail);
    int sampleRate = rate;
    speex_echo_ctl(state, SPEEX_ECHO_SET_SAMPLING_RATE, &sampleRate);
    std::vector<float> out(microphone);
    std::vector<std::int16_t> heard(speexFrame), played(speexFrame), cleaned(speexFrame);
    for (std::size_t at = 0; at + speexFrame <= microphone.size(); at += speexFrame) {
        for (int i = 0; i < speexFrame; ++i) {
            const std::size_t from = at + std::size_t(i);
            heard[i] = toShort(microphone[from]);
            played[i] = from >= shift ? toShort(far[from - shift]) : 0;
        }
        speex_echo_cancellation(state, heard.data(), played.data(), cleaned.data());
        for (int i = 0; i < speexFrame; ++i) {
            out[at + std::size_t(i)] = float(cleaned[i]) / 32768.0f;
        }
    }
    speex_echo_state_destroy(state);
    return out;
}

double enhancement(const SyntheticCall& call, const std::vector<float>& microphone,
                   const std::vector<float>& cleaned) {
    const double from = call.farAloneFrom + 2.0;
    return 10 * std::log10(energy(microphone, from, call.farAloneUntil) /
                           std::max(1e-20, energy(cleaned, from, call.farAloneUntil)));
}

// A saved call's "You" track written again at the recording's 48 kHz: both sides decoded, the
// stage, the AAC encoding and the other tracks copied.
void savedFile(const SyntheticCall& call, double callMinutes) {
    const QTemporaryDir folder;
    const QString recorded = folder.filePath("call.m4a");
    if (!orvo::test::writeCallRecording(recorded, orvo::test::microphoneOf(call, 150), call.far,
                                        {true, 48000, "speakers"})) {
        std::printf("the saved file: FFmpeg could not write the call\n");
        return;
    }
    orvo::FFmpegMedia media;
    orvo::WebRtcEchoCanceller canceller;
    const std::atomic<bool> running{false};
    const double started = cpuSeconds();
    const auto copy =
        media.writeWithoutEcho(recorded, folder.filePath("cleaned.m4a"), 1, 2, canceller, running);
    const double cpu = (cpuSeconds() - started) / (callMinutes * 60) * 100;
    std::printf("the saved file at 48 kHz, delay 150 ms: %s, CPU %.2f %% of a core\n",
                copy.error ? qPrintable(*copy.error) : "written", cpu);
}

// A side as the capture hands it on, roughly: each sample three times, in both channels.
std::vector<float> asCaptured(const std::vector<float>& samples) {
    std::vector<float> captured;
    captured.reserve(samples.size() * 6);
    for (float sample : samples) {
        captured.insert(captured.end(), 6, sample);
    }
    return captured;
}

// The "You" side written without the echo while the call is recorded, delay 150 ms: both
// sides brought to the stage's rate, the stage on its thread, the AAC encoding. Fed ten times
// as fast as the call goes, as the stage keeps up with.
void whileRecorded(const SyntheticCall& call, double callMinutes) {
    const QTemporaryDir folder;
    const auto near = asCaptured(orvo::test::microphoneOf(call, 150));
    const auto far = asCaptured(call.far);
    orvo::WebRtcEchoCanceller canceller;
    const double started = cpuSeconds();
    QString error;
    auto stage =
        orvo::EchoFreeSideStage::open(folder.filePath("call_echofree.m4a"), canceller, 0, &error);
    constexpr std::size_t block = 960 * 2;
    const auto began = std::chrono::steady_clock::now();
    for (std::size_t at = 0; stage && error.isEmpty() && at < near.size(); at += block) {
        std::this_thread::sleep_until(began + std::chrono::microseconds(at / 2 * 100000 / 48000));
        const auto frames = std::int64_t(std::min(block, near.size() - at) / 2);
        if (auto failed = stage->add(near.data() + at, far.data() + at, frames)) {
            error = *failed;
        }
    }
    if (stage && error.isEmpty()) {
        error = stage->finish().value_or(QString());
    }
    const bool written = QFileInfo::exists(folder.filePath("call_echofree.m4a"));
    const double cpu = (cpuSeconds() - started) / (callMinutes * 60) * 100;
    std::printf("while recorded, delay 150 ms: %s, CPU %.2f %% of a core\n",
                !error.isEmpty() ? qPrintable(error)
                : written        ? "written"
                                 : "no echo heard",
                cpu);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    // The call's length in seconds: the first stretch costs more (the linear canceller learns
    // the room on it), so a long call shows what a minute costs from then on.
    const double seconds = argc > 1 ? std::max(60.0, std::atof(argv[1])) : 60.0;
    const SyntheticCall call = orvo::test::makeSyntheticCall(seconds);
    if (call.far.empty()) {
        std::fprintf(stderr, "bench_echo: flite made no speech\n");
        return 1;
    }
    const double callMinutes = double(call.far.size()) / rate / 60;
    std::printf("call of %.1f s at %d Hz\n", callMinutes * 60, rate);
    std::printf("delay | measured | the echo stage: CPU %% of a core, dB removed | speexdsp alone: "
                "CPU %%, dB\n");
    for (const int delayMs : {50, 150, 300}) {
        const auto microphone = orvo::test::microphoneOf(call, delayMs);
        orvo::WebRtcEchoCanceller canceller;
        double started = cpuSeconds();
        const auto cleaned =
            canceller.cancel(microphone, call.far, rate, orvo::EchoSides::captured);
        const double webrtcCpu = (cpuSeconds() - started) / (callMinutes * 60) * 100;
        if (!cleaned) {
            std::printf("%d ms | no delay measured\n", delayMs);
            continue;
        }
        const auto delay = orvo::echoDelay(call.far, microphone, rate, rate / 2).value_or(0);
        started = cpuSeconds();
        const auto speex = speexCancelled(microphone, call.far, delay);
        const double speexCpu = (cpuSeconds() - started) / (callMinutes * 60) * 100;
        std::printf("%d ms | %d ms | %.2f %%, %.1f dB | %.2f %%, %.1f dB\n", delayMs,
                    cleaned->delaysMs.front(), webrtcCpu,
                    enhancement(call, microphone, cleaned->near), speexCpu,
                    enhancement(call, microphone, speex));
    }
    whileRecorded(call, callMinutes);
    savedFile(call, callMinutes);
    return 0;
}
