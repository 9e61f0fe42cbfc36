#include <chrono>
#include <thread>

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "integration/platform/MediaCheck.h"
#include "support/TestFiles.h"

namespace orvo {
namespace {

TEST(CaptureKill, AKilledRecordingLeavesSegmentsReadableToItsLastSecond) {
    ASSERT_GT(test::displaySize().first, 0) << "no X display";
    QTemporaryDir folder;
    // The far side of a call: an idle sink's monitor lags behind by up to its long latency.
    test::TonePlayer farSide(folder.path(), "speakers", 440, 0.3);
    ASSERT_TRUE(test::waitUntil([&] { return farSide.playing(); }, 5000));
    QProcess probe;
    probe.start(ORVO_CAPTURE_PROBE, {folder.path()});
    ASSERT_TRUE(test::waitForOutput(probe, "recording", 15000))
        << probe.readAllStandardError().toStdString();
    QElapsedTimer recorded;
    recorded.start();
    // The length of the recording, not a wait for a condition.
    std::this_thread::sleep_for(std::chrono::milliseconds(4500));
    probe.kill();
    ASSERT_TRUE(probe.waitForFinished(5000));
    const double seconds = double(recorded.elapsed()) / 1000.0;

    for (const QString name : {"probe_0.m4a", "probe_1.m4a", "probe_2.mov"}) {
        const test::ProbedFile probed = test::probe(folder.filePath(name));
        ASSERT_TRUE(probed.readable) << name.toStdString();
        EXPECT_EQ(probed.streamTypes.size(), 1) << name.toStdString();
        EXPECT_NEAR(probed.durationSeconds, seconds, 1.5) << name.toStdString();
    }
}

} // namespace
} // namespace orvo
