#include "audio/CallDetector.h"

#include <map>
#include <vector>

#include <gtest/gtest.h>

namespace orvo {
namespace {

using namespace std::chrono_literals;
using Kind = CallDetector::Decision::Kind;
using Direction = ProgramStream::Direction;

constexpr std::int64_t ownProcess = 100;

ProgramStream capture(std::uint32_t id, const QString& name, std::optional<std::int64_t> process) {
    ProgramStream stream;
    stream.id = id;
    stream.direction = Direction::capture;
    stream.rate = 48000;
    stream.applicationName = name;
    stream.processID = process;
    return stream;
}

ProgramStream playback(std::uint32_t id, const QString& name, std::optional<std::int64_t> process) {
    ProgramStream stream = capture(id, name, process);
    stream.direction = Direction::playback;
    return stream;
}

// The decisions of one kind, by application.
std::vector<QString> named(const std::vector<CallDetector::Decision>& decisions, Kind kind) {
    std::vector<QString> names;
    for (const auto& decision : decisions) {
        if (decision.kind == kind) {
            names.push_back(decision.application);
        }
    }
    return names;
}

class CallDetectorTest : public testing::Test {
protected:
    // Updates the detector every 100 ms from start to start + span with the same streams.
    std::vector<CallDetector::Decision> hold(const std::vector<ProgramStream>& streams,
                                             std::chrono::milliseconds span) {
        std::vector<CallDetector::Decision> all;
        const auto until = now + span;
        while (now < until) {
            now += 100ms;
            for (auto& decision : detector.update(streams, now)) {
                all.push_back(std::move(decision));
            }
        }
        return all;
    }

    CallDetector detector{ownProcess};
    CallDetector::Clock::time_point now{};
};

TEST_F(CallDetectorTest, OnlyACallingProgramsOwnVoiceCaptureIsACandidateAndEachSaysWhy) {
    auto own = capture(1, "ZOOM VoiceEngine", ownProcess);
    auto monitor = capture(2, "ZOOM VoiceEngine", 2);
    monitor.readsOutput = true;
    auto meter = capture(3, "Skype", 3);
    meter.rate = 25;
    auto peaks = capture(4, "Skype", 4);
    peaks.measuresOnly = true;
    auto production = capture(5, "Mumble", 5);
    production.mediaRole = "production";
    auto unknownProcess = capture(6, "Mumble", std::nullopt);
    auto player = capture(7, "Music Player", 7);
    auto softphone = capture(8, "Softphone", 8);
    softphone.mediaRole = "phone";
    auto byBinary = capture(9, "", 9);
    byBinary.processBinary = "telegram-desktop";

    const auto decisions = detector.update(
        {own, monitor, meter, peaks, production, unknownProcess, player, softphone, byBinary}, now);
    std::map<std::uint32_t, QString> reasons;
    for (const auto& decision : decisions) {
        reasons[decision.stream] = decision.kind == Kind::candidate
                                       ? "candidate " + decision.application
                                       : decision.reason;
    }
    EXPECT_EQ(reasons, (std::map<std::uint32_t, QString>{
                           {1, "the program's own capture"},
                           {2, "it records an output's monitor"},
                           {3, "a level meter"},
                           {4, "a level meter"},
                           {5, "a production capture"},
                           {6, "no process"},
                           {7, "not a calling program"},
                           {8, "candidate Softphone"},
                           {9, "candidate Telegram"},
                       }));
    EXPECT_TRUE(detector.update({own, monitor, softphone, byBinary}, now).empty())
        << "each stream is decided once";
}

TEST_F(CallDetectorTest, ACallIsConfirmedOnceItsProgramRecordedAndPlayedForItsConfirmationTime) {
    // A calling program after 2 s, playing from the process that records.
    const std::vector<ProgramStream> zoom{capture(1, "ZOOM VoiceEngine", 10),
                                          playback(2, "ZOOM VoiceEngine", 10)};
    EXPECT_TRUE(named(hold(zoom, 1900ms), Kind::confirmed).empty());
    EXPECT_EQ(named(hold(zoom, 200ms), Kind::confirmed), std::vector<QString>{"Zoom"});
    ASSERT_EQ(detector.calls().size(), 1u);
    EXPECT_EQ(detector.calls()[0].messenger, "zoom.us.app");

    // A browser after 10 s, and a pause of either side starts the wait again.
    auto microphone = capture(3, "Firefox", 20);
    auto tab = playback(4, "Firefox", 20);
    EXPECT_TRUE(named(hold({microphone, tab}, 6s), Kind::confirmed).empty());
    tab.paused = true;
    EXPECT_TRUE(named(hold({microphone, tab}, 1s), Kind::confirmed).empty());
    tab.paused = false;
    EXPECT_TRUE(named(hold({microphone, tab}, 9800ms), Kind::confirmed).empty());
    EXPECT_EQ(named(hold({microphone, tab}, 300ms), Kind::confirmed),
              std::vector<QString>{"Firefox"});
    EXPECT_EQ(detector.calls()[1].messenger, "Firefox.app");

    // Someone else's playback is not the program's; a voice note that stops is forgotten.
    const std::vector<ProgramStream> note{capture(5, "Telegram Desktop", 30),
                                          playback(6, "Music Player", 31)};
    EXPECT_TRUE(named(hold(note, 12s), Kind::confirmed).empty());
    EXPECT_EQ(named(hold({}, 100ms), Kind::ignored), std::vector<QString>{"Telegram"});
}

TEST_F(CallDetectorTest, ACallEndsAfterTwentySecondsOfNothingWhilePausedStreamsKeepItGoing) {
    auto microphone = capture(1, "Softphone", 10);
    microphone.mediaRole = "phone";
    auto speaker = playback(2, "Softphone", 10);
    ASSERT_EQ(named(hold({microphone, speaker}, 2100ms), Kind::confirmed).size(), 1u);

    microphone.paused = speaker.paused = true;
    EXPECT_TRUE(named(hold({microphone, speaker}, 30s), Kind::ended).empty()) << "on hold";

    // Gone: the detector asks to be woken at the end, not before.
    EXPECT_TRUE(named(hold({}, 19900ms), Kind::ended).empty());
    ASSERT_TRUE(detector.nextDeadline());
    EXPECT_LE(*detector.nextDeadline() - now, 200ms);
    EXPECT_EQ(named(hold({}, 200ms), Kind::ended), std::vector<QString>{"Softphone"});
    EXPECT_TRUE(detector.calls().empty());
    EXPECT_FALSE(detector.nextDeadline());
}

} // namespace
} // namespace orvo
