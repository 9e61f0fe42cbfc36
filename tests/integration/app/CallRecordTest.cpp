// A call recorded from the tray, start to finish, on the sound server of scripts/test with
// the virtual driver installed and the program's own backends.
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include <QFileInfo>
#include <QMenu>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "app/AppDelegate.h"
#include "audio/AudioManager.h"
#include "integration/app/LaunchedProgram.h"
#include "integration/platform/MediaCheck.h"
#include "platform/Platform.h"
#include "shell/API.h"
#include "shell/Logging.h"
#include "store/Realm.h"
#include "store/RealmRecordModel.h"
#include "store/Results.h"
#include "support/Dialogs.h"
#include "support/TestFiles.h"
#include "tray/OrvoMenuTray.h"

namespace orvo {
namespace {

using test::actionTitled;

// Longer than SilentFarSide's patience, so that a false warning would show.
constexpr int recordingMs = 12000;

QString tool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

bool onPipeWire() {
    return tool("pactl", {"info"}).contains("on PipeWire");
}

// The configured default output in PipeWire's "default" metadata; absent when none is.
std::optional<QString> configuredSink() {
    static const QRegularExpression entry(
        "key:'default.configured.audio.sink' value:'(.*)' type:'Spa:String:JSON'");
    const auto match = entry.match(tool("pw-metadata", {"-n", "default", "0"}));
    return match.hasMatch() ? std::optional(match.captured(1)) : std::nullopt;
}

// For messages: the value, or "none".
std::string configuredText() {
    return configuredSink().value_or(QStringLiteral("none")).toStdString();
}

void setConfiguredSink(const std::optional<QString>& value) {
    tool("pw-metadata",
         value ? QStringList{"-n", "default", "0", "default.configured.audio.sink", *value,
                             "Spa:String:JSON"}
               : QStringList{"-n", "default", "-d", "0", "default.configured.audio.sink"});
    ASSERT_TRUE(test::waitUntil([&] { return configuredSink() == value; }, 5000));
}

bool logHas(const QString& text) {
    for (const QString& line :
         test::readLines(Logging::dayFilePath(QDateTime::currentDateTime()))) {
        if (line.contains(text)) {
            return true;
        }
    }
    return false;
}

std::set<QString> catalogue() {
    std::set<QString> names;
    auto all = realm().objects();
    for (int i = 0; i < all.size(); ++i) {
        names.insert(all.at(i)->fileName());
    }
    return names;
}

class CallRecord : public test::LaunchedProgram {
protected:
    QAction* microphone() {
        return actionTitled(*tray().menu(), "Start recording from Microphone");
    }
    // Records from the microphone while during runs.
    void record(const std::function<void()>& during) {
        QAction* start = microphone();
        ASSERT_NE(start, nullptr);
        start->trigger();
        ASSERT_TRUE(QTest::qWaitFor([&] { return tray().isRecord(); }, 10000));
        during();
        start->trigger();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !tray().isStopping(); }, 60000));
    }
};

TEST_F(CallRecord, OnPipeWireTheConfiguredDefaultOutputIsLeftAsItWas) {
    if (!onPipeWire()) {
        GTEST_SKIP() << "PulseAudio keeps no configured default apart from the default";
    }
    ASSERT_TRUE(launch());
    // Whatever happens, the test server's own choice comes back.
    const auto restore = qScopeGuard([] { tool("pactl", {"set-default-sink", "speakers"}); });

    // Spaced unlike what the server writes itself: only the saved text gives it back.
    const QString chosen = R"({"name":"speakers"})";
    setConfiguredSink(chosen);
    record([] { QTest::qWait(1000); });
    EXPECT_EQ(configuredText(), chosen.toStdString());
    EXPECT_EQ(AudioManager::getDefaultOutputDevice(), userOutput);

    setConfiguredSink(std::nullopt);
    record([] { QTest::qWait(1000); });
    EXPECT_EQ(configuredText(), "none");
}

TEST_F(CallRecord, AFarSideSilentWhileAProgramPlaysIsToldOnce) {
    ASSERT_TRUE(launch());
    const QString module =
        tool("pactl", {"load-module", "module-null-sink", "sink_name=orvo_test_elsewhere"})
            .trimmed();
    ASSERT_FALSE(module.isEmpty());
    const auto unload = qScopeGuard([&] { tool("pactl", {"unload-module", module}); });

    record([&] {
        // A call program whose voice pins a device of its own while its ringer stream idles
        // on the default output.
        QTemporaryDir folder;
        test::TonePlayer voice(folder.path(), "orvo_test_elsewhere", 440, 0.3);
        test::TonePlayer ringer(folder.path(), "@DEFAULT_SINK@", 880, 0.0);
        ASSERT_TRUE(test::waitUntil([&] { return voice.playing() && ringer.playing(); }, 5000));
        const QString& warning = tray().controller().txtFarSideSilentMsg;
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return tray().controller().warningText() == warning; }, 12000));
        EXPECT_TRUE(tray().title().contains(warning));
        // A communication role would let the server route the capture to a microphone.
        const QString streams = tool("pactl", {"list", "source-outputs"});
        EXPECT_TRUE(streams.contains("ORVO recording"));
        EXPECT_FALSE(streams.contains(R"(media.role = "Communication")")) << streams.toStdString();
    });
    EXPECT_TRUE(tray().controller().warningText().isEmpty())
        << "the warning ends with its recording";
}

TEST_F(CallRecord, TheTrayRecordsBothSidesAndGivesTheOutputBack) {
    ASSERT_TRUE(launch());
    OrvoMenuTray& tray = this->tray();
    QAction* microphone = actionTitled(*tray.menu(), "Start recording from Microphone");
    ASSERT_NE(microphone, nullptr);
    const std::set<QString> before = catalogue();

    microphone->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return tray.isRecord(); }, 10000));
    ASSERT_NE(AudioManager::getDefaultOutputDevice(), userOutput);

    // The far side plays to whatever the default output now is; the near side speaks into
    // the microphone.
    QTemporaryDir folder;
    test::TonePlayer farSide(folder.path(), "@DEFAULT_SINK@", 440, 0.3);
    test::TonePlayer nearSide(folder.path(), "microphone_feed", 1000, 0.3);
    ASSERT_TRUE(test::waitUntil([&] { return farSide.playing() && nearSide.playing(); }, 5000));
    // The length of the call, not a wait for a condition.
    QTest::qWait(recordingMs);
    EXPECT_FALSE(tray.title().isEmpty());
    EXPECT_TRUE(tray.controller().warningText().isEmpty()) << "the far side was heard";

    microphone->trigger();
    EXPECT_FALSE(tray.isRecord());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tray.isStopping(); }, 60000));

    EXPECT_EQ(AudioManager::getDefaultOutputDevice(), userOutput);
    // Of ours only the one made ahead of the next start is left, and nothing plays into it.
    const auto outputs = AudioManager::getOutputDevices();
    ASSERT_TRUE(outputs.has_value());
    int combined = 0;
    for (const auto& [device, name] : *outputs) {
        if (name == "ORVO Multi Device") {
            ++combined;
            EXPECT_FALSE(AudioManager::isUseDevice(device));
        }
    }
    EXPECT_LE(combined, 1);
    EXPECT_TRUE(logHas("Event: ok Value: Start record success"));
    EXPECT_TRUE(logHas("marge completed with status"));
    EXPECT_TRUE(logHas("Event: ok Value: Stop record success"));

    std::vector<QString> added;
    for (const QString& name : catalogue()) {
        if (!before.contains(name)) {
            added.push_back(name);
        }
    }
    ASSERT_EQ(added.size(), 1u);
    const auto samples = test::decodeAudio(API::audioRecordsPath() + added.front());
    // Both sides are there; how loud after the aggregate's resampling and a busy machine's
    // late start is not this test's question. Silence on these null sinks measures 0.
    EXPECT_GT(test::toneAmplitude(samples, 440, 0.5, 4.5), 0.01);
    EXPECT_GT(test::toneAmplitude(samples, 1000, 0.5, 4.5), 0.01);
}

} // namespace
} // namespace orvo
