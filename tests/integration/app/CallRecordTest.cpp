// A call recorded from the tray, start to finish, on the sound server of scripts/test with
// the virtual driver installed and the program's own backends.
#include <memory>
#include <set>

#include <QFileInfo>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "app/AppDelegate.h"
#include "audio/AudioManager.h"
#include "integration/app/ProgramBackends.h"
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

constexpr int recordingMs = 5000;

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

class CallRecord : public testing::Test {
protected:
    // Whatever happened, the shared sound server plays to the user's output again.
    void TearDown() override {
        delegate.reset();
        if (userOutput != 0) {
            AudioManager::setOutputDevice(userOutput);
            AudioManager::removeAggregateDeviceWithDefaultDevice();
        }
        Platform::shared().clear();
    }

    std::unique_ptr<AppDelegate> delegate;
    AudioDeviceID userOutput = 0;
};

TEST_F(CallRecord, TheTrayRecordsBothSidesAndGivesTheOutputBack) {
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "needs the X server of scripts/test";
    if (!test::installProgramBackends()) {
        GTEST_SKIP() << "needs the virtual driver that scripts/test installs";
    }
    userOutput = AudioManager::getDefaultOutputDevice();
    ASSERT_NE(userOutput, 0u);

    delegate = std::make_unique<AppDelegate>();
    delegate->applicationDidFinishLaunching();
    ASSERT_TRUE(delegate->launchApplication());
    OrvoMenuTray& tray = *delegate->orvoMenuTray();
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

    microphone->trigger();
    EXPECT_FALSE(tray.isRecord());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tray.isStopping(); }, 60000));

    EXPECT_EQ(AudioManager::getDefaultOutputDevice(), userOutput);
    const auto outputs = AudioManager::getOutputDevices();
    ASSERT_TRUE(outputs.has_value());
    for (const auto& [device, name] : *outputs) {
        EXPECT_NE(name, "ORVO Multi Device");
    }
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
