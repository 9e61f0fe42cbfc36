#include "control/RecordingController.h"

#include <utility>
#include <vector>

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "support/RecordingFixture.h"

namespace orvo {
namespace {

using namespace test;
using Phase = RecordingController::Phase;
using Kind = RecordingFailure::Kind;

// The controller alone, without a tray or a window: every step of its phase is watched, and
// each must be one the controller allows.
class RecordingControllerPhaseTest : public RecordingFixture {
protected:
    RecordingController& watchedController() {
        makeController();
        QObject::connect(controller.get(), &RecordingController::phaseChanged,
                         [this](Phase from, Phase to) {
                             EXPECT_TRUE(RecordingController::isAllowed(from, to))
                                 << int(from) << " -> " << int(to);
                             phases.push_back(to);
                         });
        QObject::connect(controller.get(), &RecordingController::failed,
                         [this](const RecordingFailure& failure) {
                             failures.push_back({failure.kind, controller->phase()});
                             messages.push_back(failure.message);
                         });
        return *controller;
    }
    bool waitForPhase(Phase phase) {
        return QTest::qWaitFor([&] { return controller->phase() == phase; }, 5000);
    }
    void finishOutputs() {
        for (const auto& output : capture_->audioOutputs) {
            output->finish();
        }
    }

    std::vector<Phase> phases;
    // What failed, and the phase the controller was in when it said so.
    std::vector<std::pair<Kind, Phase>> failures;
    QStringList messages;
};

TEST_F(RecordingControllerPhaseTest, ARecordingGoesThroughEveryPhaseOfAStartAndAStop) {
    RecordingController& control = watchedController();
    EXPECT_EQ(control.phase(), Phase::idle);
    // A stop while idle calls back at once and touches nothing, after the start-up's look for
    // leftover combined outputs, which may still run.
    QSignalSpy state(&control, &RecordingController::stateChanged);
    int idleStops = 0;
    control.stopAndFinalise([&] { ++idleStops; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return idleStops == 1; }, 5000));
    EXPECT_EQ(state.size(), 0);
    EXPECT_TRUE(phases.empty());
    EXPECT_EQ(defaultOutput(), speakers);
    EXPECT_TRUE(hardware_->destroyed().empty());
    EXPECT_TRUE(capture_->sessions.empty());

    control.toggleTarget(0);
    EXPECT_EQ(control.phase(), Phase::starting);
    EXPECT_FALSE(control.isTargetEnabled(0)) << "no second start while the devices answer";
    ASSERT_TRUE(waitForPhase(Phase::recording));
    EXPECT_TRUE(control.isTargetEnabled(0)) << "the stop command";
    EXPECT_FALSE(control.isTargetEnabled(1)) << "another target while recording";

    describeSegments();
    holdOutputs();
    bool finalised = false;
    control.stopAndFinalise([&] { finalised = true; });
    EXPECT_EQ(control.phase(), Phase::stopping);
    EXPECT_FALSE(control.isTargetEnabled(0));
    finishOutputs();
    ASSERT_TRUE(waitForPhase(Phase::idle));
    EXPECT_TRUE(finalised);
    EXPECT_TRUE(control.isTargetEnabled(0));
    EXPECT_EQ(phases, std::vector<Phase>({Phase::starting, Phase::recording, Phase::stopping,
                                          Phase::finalising, Phase::idle}));
    EXPECT_TRUE(failures.empty());
}

TEST_F(RecordingControllerPhaseTest, AStopDuringAStartWaitsForTheStartThenStops) {
    RecordingController& control = watchedController();
    control.toggleTarget(0);
    ASSERT_EQ(control.phase(), Phase::starting);
    control.toggleTarget(0); // the target is disabled: nothing happens
    EXPECT_EQ(control.phase(), Phase::starting);
    int finalised = 0;
    control.stopAndFinalise([&] { ++finalised; });
    EXPECT_EQ(control.phase(), Phase::starting) << "the devices are still answering";
    ASSERT_TRUE(QTest::qWaitFor([&] { return finalised == 1; }, 5000));
    EXPECT_EQ(control.phase(), Phase::idle);
    EXPECT_EQ(phases, std::vector<Phase>({Phase::starting, Phase::recording, Phase::stopping,
                                          Phase::finalising, Phase::idle}));
    EXPECT_EQ(defaultOutput(), speakers);
    EXPECT_TRUE(hardware_->destroyed().size() >= 1) << "the combined output is gone";
}

TEST_F(RecordingControllerPhaseTest, ARefusedStartFailsUntilTheOutputIsBackAndMayBeChosenAgain) {
    hardware_->setCreationStatus(-50);
    RecordingController& control = watchedController();
    // Chosen again the moment it failed, while the output is still on its way back.
    bool again = true;
    QObject::connect(&control, &RecordingController::phaseChanged, [&](Phase, Phase to) {
        if (to == Phase::failed && std::exchange(again, false)) {
            control.toggleTarget(0);
        }
    });
    control.toggleTarget(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return failures.size() == 2; }, 5000));
    ASSERT_TRUE(waitForPhase(Phase::idle));
    EXPECT_EQ(phases, std::vector<Phase>({Phase::starting, Phase::failed, Phase::starting,
                                          Phase::failed, Phase::idle}));
    for (const auto& [kind, phase] : failures) {
        EXPECT_EQ(kind, Kind::startFailed);
        EXPECT_EQ(phase, Phase::starting) << "told before the phase moves on";
    }
    EXPECT_TRUE(messages.at(0).contains("USB Mic")) << messages.at(0).toStdString();
    EXPECT_TRUE(messages.at(0).contains("-50")) << messages.at(0).toStdString();
    EXPECT_EQ(defaultOutput(), speakers);
}

TEST_F(RecordingControllerPhaseTest, AFailureWhileFinalisingIsToldOnceTheOutputIsBack) {
    RecordingController& control = watchedController();
    const int successes = logCount("Event: ok Value: Stop record success");
    control.toggleTarget(0);
    ASSERT_TRUE(waitForPhase(Phase::recording));
    // The segments are never read back: the merge fails.
    std::vector<std::optional<AudioDeviceID>> outputsWhenTold;
    QObject::connect(&control, &RecordingController::failed,
                     [&](const RecordingFailure&) { outputsWhenTold.push_back(defaultOutput()); });
    bool finalised = false;
    control.stopAndFinalise([&] { finalised = true; });
    ASSERT_TRUE(waitForPhase(Phase::idle));
    EXPECT_TRUE(finalised) << "the caller hears of the end whatever its outcome";
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].first, Kind::stopFailed);
    EXPECT_EQ(outputsWhenTold, std::vector<std::optional<AudioDeviceID>>({speakers}));
    EXPECT_EQ(logCount("Event: ok Value: Stop record success"), successes);
    EXPECT_EQ(phases, std::vector<Phase>({Phase::starting, Phase::recording, Phase::stopping,
                                          Phase::finalising, Phase::idle}));
}

TEST_F(RecordingControllerPhaseTest, ALostSourceEndsTheRecordingAndAnExitClosesItAtOnce) {
    RecordingController& control = watchedController();
    control.toggleTarget(0);
    ASSERT_TRUE(waitForPhase(Phase::recording));
    describeSegments();
    control.recordManager()->captureFailed("The microphone is gone");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !failures.empty(); }, 5000));
    EXPECT_EQ(failures[0], std::make_pair(Kind::captureLost, Phase::idle)) << "once finalised";
    EXPECT_EQ(messages[0], "The microphone is gone");

    // A process that must end now closes the segments without a merge.
    phases.clear();
    control.toggleTarget(0);
    ASSERT_TRUE(waitForPhase(Phase::recording));
    bool closed = false;
    control.closeForExit([&] { closed = true; });
    EXPECT_EQ(control.phase(), Phase::idle);
    ASSERT_TRUE(QTest::qWaitFor([&] { return closed; }, 5000));
    EXPECT_EQ(phases, std::vector<Phase>({Phase::starting, Phase::recording, Phase::idle}));
    EXPECT_EQ(defaultOutput(), speakers);
}

} // namespace
} // namespace orvo
