// Calls noticed by the whole program on the sound server of scripts/test, from programs made
// of pacat processes that carry the properties real ones do, and a paused capture of the
// test's own.
#include <chrono>
#include <memory>
#include <vector>

#include <QDir>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>
#include <pulse/pulseaudio.h>

#include "control/CallDetection.h"
#include "control/RecordingController.h"
#include "integration/app/LaunchedProgram.h"
#include "recording/ApplicationsManager.h"
#include "shell/SettingsManager.h"
#include "store/Realm.h"
#include "store/RealmRecordModel.h"
#include "store/Results.h"
#include "support/Dialogs.h"
#include "support/TestFiles.h"

namespace orvo {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Phase = RecordingController::Phase;

// Where a side's pacat writes what went wrong.
QString errorsOf(std::int64_t process, bool record) {
    return QDir::temp().filePath(
        QStringLiteral("pacat-%1-%2.log").arg(process).arg(record ? "record" : "play"));
}

// Ends the process with its owner, so that its stream is gone once the owner is.
struct EndProcess {
    void operator()(QProcess* process) const {
        process->kill();
        process->waitForFinished(5000);
        delete process;
    }
};
using Side = std::unique_ptr<QProcess, EndProcess>;

// How many streams of the process, in that direction and under that name, the server shows.
int streamsOf(std::int64_t process, bool capture, const QString& name) {
    const auto direction =
        capture ? ProgramStream::Direction::capture : ProgramStream::Direction::playback;
    int count = 0;
    for (const ProgramStream& stream : Platform::shared().get<AudioHardware>().programStreams()) {
        count += stream.processID == process && stream.direction == direction &&
                         stream.applicationName == name
                     ? 1
                     : 0;
    }
    return count;
}

// One side of a program: pacat recording (to nowhere) or playing (silence) under the name,
// with more properties; returns once the server shows its stream. One at a time: a burst of
// connections overflows the server's socket and some are refused.
Side pacat(bool record, std::int64_t process, const QString& name, const QStringList& more = {},
           const QStringList& options = {}) {
    QStringList arguments{record ? "--record" : "--playback", "--latency-msec=50",
                          QStringLiteral("--property=application.process.id=%1").arg(process),
                          "--property=application.name=" + name};
    for (const QString& property : more) {
        arguments << "--property=" + property;
    }
    const int before = streamsOf(process, record, name);
    Side side(new QProcess);
    side->setStandardErrorFile(errorsOf(process, record));
    if (record) {
        side->setStandardOutputFile(QProcess::nullDevice());
    } else {
        side->setStandardInputFile("/dev/zero");
    }
    side->start("pacat", arguments + options);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return streamsOf(process, record, name) == before + 1; }, 5000))
        << name.toStdString() << ", process " << process << ": "
        << test::readFile(errorsOf(process, record)).data();
    return side;
}

using Program = std::vector<Side>;

// A program that records and plays.
Program talking(std::int64_t process, const QString& name, const QStringList& more = {}) {
    Program program;
    program.push_back(pacat(true, process, name, more));
    program.push_back(pacat(false, process, name, more));
    return program;
}

// A capture that a program opened and paused at once, as a call on hold does.
class PausedCapture {
public:
    PausedCapture(const char* name, std::int64_t process) : loop_(pa_threaded_mainloop_new()) {
        pa_threaded_mainloop_start(loop_);
        pa_threaded_mainloop_lock(loop_);
        context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), name);
        pa_context_set_state_callback(
            context_,
            [](pa_context*, void* loop) {
                pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
            },
            loop_);
        pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
        while (PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) &&
               pa_context_get_state(context_) != PA_CONTEXT_READY) {
            pa_threaded_mainloop_wait(loop_);
        }
        pa_proplist* properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, name);
        pa_proplist_sets(properties, PA_PROP_APPLICATION_PROCESS_ID,
                         QByteArray::number(qint64(process)).constData());
        pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "phone");
        const pa_sample_spec spec{PA_SAMPLE_S16LE, 48000, 1};
        stream_ = pa_stream_new_with_proplist(context_, "call", &spec, nullptr, properties);
        pa_proplist_free(properties);
        pa_stream_connect_record(stream_, nullptr, nullptr, PA_STREAM_START_CORKED);
        pa_threaded_mainloop_unlock(loop_);
    }
    ~PausedCapture() {
        pa_threaded_mainloop_lock(loop_);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        pa_threaded_mainloop_unlock(loop_);
        pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
    }
    PausedCapture(const PausedCapture&) = delete;
    PausedCapture& operator=(const PausedCapture&) = delete;

private:
    pa_threaded_mainloop* loop_;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
};

std::optional<QString> messengerOfLastRecord() {
    auto all = realm().objects();
    std::optional<QString> last;
    QDateTime newest;
    for (int i = 0; i < all.size(); ++i) {
        if (!newest.isValid() || all.at(i)->time() > newest) {
            newest = all.at(i)->time();
            last = all.at(i)->socialIM();
        }
    }
    return last;
}

class CallDetect : public test::LaunchedProgram {
protected:
    void launchRecordingCalls() {
        setLastActiveIM(std::nullopt);
        // After the first start, which makes the settings file afresh.
        ASSERT_TRUE(launch());
        SettingsManager::shared().writeValueSetting("Record", "CallDetection");
        QObject::connect(delegate->recordingController(), &RecordingController::phaseChanged,
                         &context_, [this](Phase, Phase to) {
                             phases.push_back({to, Clock::now()});
                         });
    }
    RecordingController& control() { return *delegate->recordingController(); }
    // When the phase was entered last since from; absent when it was not.
    std::optional<Clock::time_point> entered(Phase phase, Clock::time_point from) const {
        std::optional<Clock::time_point> last;
        for (const auto& [to, when] : phases) {
            if (to == phase && when >= from) {
                last = when;
            }
        }
        return last;
    }
    // Waits until the server shows none of the program's streams; when it did.
    static Clock::time_point gone(std::int64_t process, const QString& name) {
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return streamsOf(process, true, name) + streamsOf(process, false, name) == 0; },
            5000));
        return Clock::now();
    }
    void stopByHand() {
        control().toggleTarget(control().selectedTarget().value_or(0));
        ASSERT_TRUE(QTest::qWaitFor([&] { return control().phase() == Phase::idle; }, 30000));
    }
    static double seconds(Clock::duration span) {
        return std::chrono::duration<double>(span).count();
    }

    QObject context_;
    std::vector<std::pair<Phase, Clock::time_point>> phases;
};

TEST_F(CallDetect, NothingButACallStartsARecordingAndEveryCallStartsOneOnTime) {
    launchRecordingCalls();
    {
        // Eight programs that use the microphone and are in no call, side by side.
        std::vector<Program> programs;
        programs.emplace_back();
        programs.back().push_back(
            pacat(true, 5001, "Skype", {}, {"--rate=25", "--format=float32le", "--channels=1"}));
        programs.back().push_back(pacat(false, 5001, "Skype"));
        programs.push_back(talking(5002, "linphone", {"media.role=production"}));
        programs.push_back(talking(QCoreApplication::applicationPid(), "Mumble"));
        programs.emplace_back();
        programs.back().push_back(pacat(true, 5006, "Firefox"));
        programs.emplace_back();
        programs.back().push_back(
            pacat(true, 5007, "ZOOM VoiceEngine", {}, {"--device=speakers.monitor"}));
        programs.back().push_back(pacat(false, 5007, "ZOOM VoiceEngine"));
        PausedCapture onHold("Softphone", 5008);
        ASSERT_TRUE(QTest::qWaitFor([] { return streamsOf(5008, true, "Softphone") == 1; }, 5000));
        const auto start = Clock::now();
        {
            const Program voiceNote = talking(5004, "Telegram Desktop");
            const auto noteStart = Clock::now();
            {
                const Program dictation = talking(5005, "Google Chrome input");
                QTest::qWait(3000);
            }
            QTest::qWait(int(8000 - seconds(Clock::now() - noteStart) * 1000));
        }
        QTest::qWait(4000);
        EXPECT_EQ(control().phase(), Phase::idle);
        EXPECT_FALSE(entered(Phase::starting, start)) << "a false start";
    }

    struct Calling {
        const char* name;
        QStringList more;
        double confirmation;
    };
    const std::vector<Calling> calls{
        {"Softphone", {"media.role=phone"}, 2}, // a program in a conversation's role
        {"ZOOM VoiceEngine", {}, 2},            // a calling program by its name
        {"Firefox", {}, 10},                    // a browser
    };
    std::int64_t process = 6000;
    for (const Calling& call : calls) {
        const Program program = talking(++process, call.name, call.more);
        const auto both = Clock::now();
        ASSERT_TRUE(QTest::qWaitFor([&] { return control().isRecord(); },
                                    int(call.confirmation * 1000) + 5000))
            << call.name;
        const double after = seconds(entered(Phase::starting, both).value_or(both) - both);
        EXPECT_GE(after, call.confirmation - 0.2) << call.name;
        EXPECT_LE(after, call.confirmation + 1.0) << call.name;
        stopByHand();
    }
}

TEST_F(CallDetect, ADetectedCallEndsItsRecordingWhileTheUsersOwnGoesOn) {
    launchRecordingCalls();
    {
        const Program zoom = talking(7001, "ZOOM VoiceEngine");
        ASSERT_TRUE(QTest::qWaitFor([&] { return control().isRecord(); }, 8000));
        QTest::qWait(1000);
    }
    const auto hungUp = gone(7001, "ZOOM VoiceEngine");
    ASSERT_TRUE(QTest::qWaitFor([&] { return control().phase() != Phase::recording; }, 25000));
    const double after = seconds(entered(Phase::stopping, hungUp).value_or(hungUp) - hungUp);
    EXPECT_GE(after, 19.8);
    EXPECT_LE(after, 21.0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return control().phase() == Phase::idle; }, 30000));
    EXPECT_EQ(messengerOfLastRecord(), "zoom.us.app");

    QAction* microphone = test::actionTitled(*tray().menu(), "Start recording from Microphone");
    ASSERT_NE(microphone, nullptr);
    microphone->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return control().isRecord(); }, 10000));
    {
        const Program softphone = talking(7002, "Softphone", {"media.role=phone"});
        QTest::qWait(3000);
    }
    gone(7002, "Softphone");
    QTest::qWait(21500);
    EXPECT_TRUE(control().isRecord()) << "the user's own recording";
    stopByHand();
    EXPECT_EQ(messengerOfLastRecord(), "Softphone.app");
}

} // namespace
} // namespace orvo
