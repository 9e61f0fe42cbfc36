// The echo canceller on a synthetic call: voices from flite, the far side played into a room
// (a direct path and a decaying tail) and picked up by the microphone some time later.
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "platform/linux/echo/WebRtcEchoCanceller.h"
#include "platform/linux/signal/EchoDelay.h"
#include "support/TestFiles.h"

namespace orvo {
namespace {

constexpr int rate = 16000;

// What flite says in the voice, as 16 kHz samples.
std::vector<float> spoken(const QString& voice, const QString& text) {
    QTemporaryDir folder;
    const QString path = folder.filePath("speech.wav");
    QProcess flite;
    flite.start("flite", {"-voice", voice, "-t", text, "-o", path});
    EXPECT_TRUE(flite.waitForFinished(30000));
    const QByteArray wav = test::readFile(path);
    const qsizetype data = wav.indexOf("data");
    EXPECT_GE(data, 0) << "flite wrote no speech";
    std::vector<float> samples;
    for (qsizetype at = data + 8; at + 1 < wav.size(); at += 2) {
        std::int16_t value = 0;
        std::memcpy(&value, wav.constData() + at, 2);
        samples.push_back(float(value) / 32768.0f);
    }
    return samples;
}

void place(std::vector<float>& track, const std::vector<float>& speech, double atSeconds) {
    const auto at = std::size_t(atSeconds * rate);
    track.resize(std::max(track.size(), at + speech.size()));
    for (std::size_t i = 0; i < speech.size(); ++i) {
        track[at + i] += speech[i];
    }
}

// A room: the direct path after delayMs, then a tail of reflections that dies away in 120 ms.
std::vector<float> room(int delayMs) {
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    const auto direct = std::size_t(delayMs * rate / 1000);
    std::vector<float> response(direct + rate * 120 / 1000);
    response[direct] = 0.5f;
    for (std::size_t i = direct + 1; i < response.size(); ++i) {
        const double age = double(i - direct) / rate;
        response[i] = float(0.08 * std::exp(-age / 0.025)) * noise(random);
    }
    return response;
}

std::vector<float> through(const std::vector<float>& signal, const std::vector<float>& response,
                           std::size_t length) {
    std::vector<float> out(length);
    for (std::size_t k = 0; k < response.size(); ++k) {
        if (response[k] == 0.0f) {
            continue;
        }
        for (std::size_t i = 0; i + k < length && i < signal.size(); ++i) {
            out[i + k] += response[k] * signal[i];
        }
    }
    return out;
}

double power(const std::vector<float>& track, double fromSeconds, double toSeconds) {
    double sum = 0;
    for (auto i = std::size_t(fromSeconds * rate); i < std::size_t(toSeconds * rate); ++i) {
        sum += double(track[i]) * double(track[i]);
    }
    return sum;
}

struct Call {
    std::vector<float> far;
    std::vector<float> near; // what the user said, alone
    double farAloneUntil = 0;
    double nearAloneFrom = 0; // the user alone, for a second
};

Call makeCall() {
    Call call;
    const auto first = spoken("slt", "Good morning. I am calling about the order you placed on "
                                     "Monday, the one with the blue chairs and the long table.");
    const auto second = spoken("slt", "We can deliver it on Thursday afternoon, or on Saturday "
                                      "morning if that suits you better.");
    const auto answer = spoken("rms", "Thursday afternoon is fine. Please ring the bell twice.");
    const auto overlap = spoken("slt", "Wonderful, I will write that down for the driver.");
    place(call.far, first, 0.5);
    const double secondAt = 0.5 + double(first.size()) / rate + 0.4;
    place(call.far, second, secondAt);
    call.farAloneUntil = secondAt + double(second.size()) / rate;
    const double answerAt = call.farAloneUntil + 0.8;
    place(call.near, answer, answerAt);
    call.nearAloneFrom = answerAt;
    // Both talk at once for a while.
    place(call.far, overlap, answerAt + 1.0);
    const std::size_t length = std::max(call.far.size(), call.near.size()) + rate;
    call.far.resize(length);
    call.near.resize(length);
    return call;
}

TEST(EchoCancellation, TheFarSidesEchoLeavesTheMicrophoneAtEveryRoomDelay) {
    const Call call = makeCall();
    for (const int delayMs : {50, 150, 300}) {
        SCOPED_TRACE(delayMs);
        const auto echo = through(call.far, room(delayMs), call.far.size());
        std::vector<float> microphone(call.near);
        for (std::size_t i = 0; i < microphone.size(); ++i) {
            microphone[i] += echo[i];
        }
        const auto measured = echoDelay(call.far, microphone, rate, rate / 2);
        ASSERT_TRUE(measured);
        // The strongest part of the echo: the direct path, or a reflection just after it.
        EXPECT_GE(double(*measured) * 1000 / rate, delayMs - 1.0);
        EXPECT_LE(double(*measured) * 1000 / rate, delayMs + 15.0);

        WebRtcEchoCanceller canceller;
        const auto cleaned = canceller.cancel(microphone, call.far, rate);
        ASSERT_TRUE(cleaned);
        ASSERT_EQ(cleaned->near.size(), microphone.size());
        // Where only the far side speaks, once the canceller has adapted (2 s).
        const double erle = 10 * std::log10(power(microphone, 2.5, call.farAloneUntil) /
                                            power(cleaned->near, 2.5, call.farAloneUntil));
        EXPECT_GE(erle, 40.0);
        // Where the user speaks alone, the voice stays.
        const double kept =
            10 * std::log10(power(cleaned->near, call.nearAloneFrom, call.nearAloneFrom + 1.0) /
                            power(call.near, call.nearAloneFrom, call.nearAloneFrom + 1.0));
        EXPECT_GT(kept, -3.0);
        std::printf("near side kept %.1f dB\n", kept);
        std::printf("delay %d ms: measured %d ms, echo return loss enhancement %.1f dB\n", delayMs,
                    cleaned->delaysMs.front(), erle);
    }
}

TEST(EchoCancellation, WithoutAnEchoNothingIsMeasuredAndTheMicrophoneStaysAsItWas) {
    const Call call = makeCall();
    WebRtcEchoCanceller canceller;
    EXPECT_FALSE(canceller.cancel(call.near, call.far, rate)) << "headphones: nothing came back";
    EXPECT_FALSE(canceller.cancel(call.near, std::vector<float>(call.far.size()), rate));
    EXPECT_FALSE(canceller.cancel(call.near, call.far, 44100)) << "a rate it does not take";
}

} // namespace
} // namespace orvo
