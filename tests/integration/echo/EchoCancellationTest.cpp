// The echo canceller on a synthetic call: voices from flite, the far side played into a room
// (a direct path and a decaying tail) and picked up by the microphone some time later.
#include <cmath>
#include <cstdio>
#include <span>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/linux/echo/WebRtcEchoCanceller.h"
#include "platform/linux/signal/EchoDelay.h"
#include "support/SyntheticCall.h"

namespace orvo {
namespace {

using test::energy;
constexpr int rate = test::SyntheticCall::rate;

TEST(EchoCancellation, TheFarSidesEchoLeavesTheMicrophoneAtEveryRoomDelayAndNoEchoChangesNothing) {
    const auto call = test::makeSyntheticCall();
    ASSERT_FALSE(call.far.empty()) << "flite made no speech";
    WebRtcEchoCanceller withoutEcho;
    EXPECT_FALSE(withoutEcho.cancel(call.near, call.far, rate, EchoSides::captured))
        << "headphones: nothing came back";
    EXPECT_FALSE(withoutEcho.cancel(call.near, std::vector<float>(call.far.size()), rate,
                                    EchoSides::captured));
    EXPECT_FALSE(withoutEcho.cancel(call.near, call.far, 44100, EchoSides::captured))
        << "a rate it does not take";

    for (const auto& [delayMs, sides] : {std::pair{50, EchoSides::captured},
                                         {150, EchoSides::captured},
                                         {300, EchoSides::captured},
                                         {150, EchoSides::decoded}}) {
        SCOPED_TRACE(delayMs);
        SCOPED_TRACE(sides == EchoSides::captured ? "captured" : "decoded");
        const auto microphone = test::microphoneOf(call, delayMs);
        const auto measured = echoDelay(call.far, microphone, rate, rate / 2);
        ASSERT_TRUE(measured);
        // The strongest part of the echo: the direct path, or a reflection just after it.
        EXPECT_GE(double(*measured) * 1000 / rate, delayMs - 1.0);
        EXPECT_LE(double(*measured) * 1000 / rate, delayMs + 15.0);

        WebRtcEchoCanceller canceller;
        const auto cleaned = canceller.cancel(microphone, call.far, rate, sides);
        ASSERT_TRUE(cleaned);
        ASSERT_EQ(cleaned->near.size(), microphone.size());
        // Where only the far side speaks, once the canceller has adapted (2 s).
        const double from = call.farAloneFrom + 2.0;
        const double erle = 10 * std::log10(energy(microphone, from, call.farAloneUntil) /
                                            energy(cleaned->near, from, call.farAloneUntil));
        EXPECT_GE(erle, 40.0);
        // Where the user speaks alone, the voice stays.
        const double kept =
            10 * std::log10(energy(cleaned->near, call.nearAloneFrom, call.bothFrom) /
                            energy(call.near, call.nearAloneFrom, call.bothFrom));
        EXPECT_GT(kept, -3.0);
        // And where it was said: WebRTC's output and the residual suppressor's come later than
        // their input, each by its own time, and the stage takes now one, now the other.
        const auto said = std::span<const float>(call.near).subspan(
            std::size_t(call.nearAloneFrom * rate),
            std::size_t((call.bothFrom - call.nearAloneFrom) * rate));
        const auto heard = std::span<const float>(cleaned->near)
                               .subspan(std::size_t(call.nearAloneFrom * rate), said.size());
        const std::size_t millisecond = rate / 1000;
        EXPECT_LE(echoDelay(said, heard, rate, rate / 10).value_or(0), millisecond) << "later";
        EXPECT_LE(echoDelay(heard, said, rate, rate / 10).value_or(0), millisecond) << "earlier";
        std::printf("delay %d ms: measured %d ms, echo return loss enhancement %.1f dB, user's "
                    "voice alone %.1f dB\n",
                    delayMs, cleaned->delaysMs.front(), erle, kept);
    }
}

// A route whose delay wanders by tens of milliseconds from second to second, as a sound
// server's combined output may: over a whole short call the echo's correlation is spread over
// the lags it took and stands out nowhere; two seconds at a time it does.
TEST(EchoCancellation, AnEchoWhoseDelayWandersIsFoundInAShortCall) {
    const auto call = test::makeSyntheticCall();
    const auto echo = test::heardThrough(call.far, test::roomResponse(100), call.far.size());
    auto microphone = call.near;
    for (std::size_t i = 0; i < echo.size(); ++i) {
        const std::size_t wanderMs = (i / rate) * 7 % 40;
        if (i + wanderMs * rate / 1000 < microphone.size()) {
            microphone[i + wanderMs * rate / 1000] += echo[i];
        }
    }
    ASSERT_FALSE(echoDelay(call.far, microphone, rate, rate / 2))
        << "the echo stood out over the whole call";
    WebRtcEchoCanceller canceller;
    const auto cleaned = canceller.cancel(microphone, call.far, rate, EchoSides::captured);
    ASSERT_TRUE(cleaned);
    EXPECT_GE(cleaned->delaysMs.front(), 100);
    EXPECT_LE(cleaned->delaysMs.front(), 155);
}

} // namespace
} // namespace orvo
