#include "control/CallDetection.h"

#include <memory>

#include <QDir>
#include <QTest>
#include <gtest/gtest.h>

#include "browser/CallOfferBar.h"
#include "browser/MainWindowController.h"
#include "fakes/FakeWorkspace.h"
#include "recording/ApplicationsManager.h"
#include "store/Realm.h"
#include "store/RealmRecordModel.h"
#include "store/Results.h"
#include "support/Dialogs.h"
#include "support/RecordingFixture.h"

namespace orvo {
namespace {

using namespace std::chrono_literals;
using namespace test;
using Phase = RecordingController::Phase;

ProgramStream stream(std::uint32_t id, ProgramStream::Direction direction, const QString& name,
                     std::int64_t process) {
    ProgramStream made;
    made.id = id;
    made.direction = direction;
    made.rate = 48000;
    made.applicationName = name;
    made.processID = process;
    return made;
}

std::vector<ProgramStream> callIn(const QString& name, std::int64_t process) {
    return {stream(process, ProgramStream::Direction::capture, name, process),
            stream(process, ProgramStream::Direction::playback, name, process)};
}

// The messenger the catalogue holds for the recording file of that name.
std::optional<QString> messengerOf(const QString& fileName) {
    const auto found = realm().objects().filter("fileName == %@", {fileName});
    return found.size() > 0 ? found.at(0)->socialIM() : QStringLiteral("(no record)");
}

class CallDetectionTest : public RecordingFixture {
protected:
    void SetUp() override {
        RecordingFixture::SetUp();
        auto workspace = std::make_unique<FakeWorkspace>();
        workspace_ = workspace.get();
        Platform::shared().install<Workspace>(std::move(workspace));
        setLastActiveIM(std::nullopt);
    }
    void dropFaces() override {
        window.reset();
        detection.reset();
        closeModalAlerts();
    }
    CallDetection& detect(const QString& mode, std::chrono::milliseconds cap = 60s) {
        SettingsManager::shared().writeValueSetting(mode, "CallDetection");
        CallDetection::Options options;
        options.timing = {100ms, 300ms, 500ms};
        options.cap = cap;
        detection = std::make_unique<CallDetection>(makeController(), options);
        return *detection;
    }
    // Stops what runs and waits until the output is back; the file name of the record.
    QString finish() {
        const QString file = controller->recordManager()->fileName();
        EXPECT_TRUE(QTest::qWaitFor([&] { return controller->phase() == Phase::idle; }, 5000));
        return file;
    }

    FakeWorkspace* workspace_ = nullptr;
    std::unique_ptr<CallDetection> detection;
    std::unique_ptr<MainWindowController> window;
};

TEST_F(CallDetectionTest, AnOfferedCallIsRecordedFromTheNotificationUntilItEnds) {
    CallDetection& detected = detect("Suggest");
    window = std::make_unique<MainWindowController>(nullptr, controller.get());
    window->setCallDetection(&detected);
    hardware_->setProgramStreams(callIn("ZOOM VoiceEngine", 4242));

    ASSERT_TRUE(QTest::qWaitFor([&] { return !workspace_->actions.empty(); }, 3000));
    const std::pair<QString, QString> offer("Call detected", "Call detected in Zoom. Record it?");
    EXPECT_EQ(workspace_->notifications.back(), offer);
    EXPECT_EQ(workspace_->actions.back().first, "Record");
    EXPECT_TRUE(window->callOfferBar()->isVisibleTo(window.get()));
    EXPECT_EQ(window->callOfferBar()->message()->text(), "Call detected in Zoom. Record it?");
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QDir().mkpath(ORVO_SCREENSHOT_DIR);
    EXPECT_TRUE(window->grab().toImage().save(ORVO_SCREENSHOT_DIR "/records-call-offer.png"));
    QTest::qWait(300);
    EXPECT_EQ(controller->phase(), Phase::idle) << "only offered";

    workspace_->actions.back().second();
    ASSERT_TRUE(waitForStart());
    ASSERT_TRUE(controller->isRecord());
    EXPECT_EQ(controller->targets()[*controller->selectedTarget()].nameDevice, "USB Mic");
    EXPECT_FALSE(window->callOfferBar()->isVisibleTo(window.get()));
    describeSegments();

    hardware_->setProgramStreams({});
    EXPECT_EQ(messengerOf(finish()), "zoom.us.app");
}

// What the user started is never stopped by a call's end: the whole program's test on the
// sound servers tells that.
TEST_F(CallDetectionTest, RecordModeRecordsACallAtOnceUntilItsCap) {
    detect("Record", 1500ms);
    hardware_->setProgramStreams(callIn("ZOOM VoiceEngine", 4242));
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller->isRecord(); }, 3000));
    EXPECT_EQ(workspace_->notifications.back().first, "Recording the call");
    EXPECT_TRUE(workspace_->actions.empty());
    describeSegments();
    EXPECT_EQ(messengerOf(finish()), "zoom.us.app");
    EXPECT_TRUE(workspace_->notifications.back().second.startsWith("The call in Zoom"));
}

} // namespace
} // namespace orvo
