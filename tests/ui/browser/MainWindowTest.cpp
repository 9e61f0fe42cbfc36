#include "browser/MainWindowController.h"

#include <memory>

#include <QFileInfo>
#include <QMenuBar>
#include <QTest>
#include <gtest/gtest.h>

#include "support/Dialogs.h"
#include "support/RecordingFixture.h"

namespace orvo {
namespace {

class MainWindowTest : public test::RecordingFixture {
protected:
    void dropFaces() override {
        window.reset();
        test::closeModalAlerts();
    }

    MainWindowController& makeWindow(bool trayHost) {
        window = std::make_unique<MainWindowController>(nullptr, controller.get());
        window->hasTrayHost = [trayHost] { return trayHost; };
        window->quitProgram = [this] {
            quitFileFinal = QFileInfo::exists(recordFile);
            ++quits;
        };
        window->show();
        return *window;
    }
    void answerAlert(bool confirm) {
        ASSERT_TRUE(QTest::qWaitFor([] { return test::modalAlert() != nullptr; }, 2000));
        test::modalAlert()->done(confirm ? 1000 : 1001);
        QCoreApplication::processEvents();
    }

    std::unique_ptr<MainWindowController> window;
    QString recordFile;
    bool quitFileFinal = false;
    int quits = 0;
};

TEST_F(MainWindowTest, WithATrayClosingOnlyHidesTheWindow) {
    makeController();
    MainWindowController& records = makeWindow(true);
    records.close();
    QCoreApplication::processEvents();
    EXPECT_FALSE(records.isVisible());
    EXPECT_EQ(test::modalAlert(), nullptr);
    EXPECT_EQ(quits, 0);
}

TEST_F(MainWindowTest, WithoutATrayClosingAsksAndQuitsOnlyOnceTheCallIsKept) {
    RecordingController& control = makeController();
    MainWindowController& records = makeWindow(false);
    QMenu* recordMenu = test::menuTitled(*records.menuBar(), "Record");
    ASSERT_NE(recordMenu, nullptr);
    recordMenu->actions().at(0)->trigger();
    ASSERT_TRUE(waitForStart());
    ASSERT_TRUE(control.isRecord());
    recordFile = API::audioRecordsPath() + control.recordManager()->fileName();
    describeSegments();
    holdOutputs();
    // While recording, the top of the window says so, as the status line does.
    ASSERT_TRUE(QTest::qWaitFor([&] { return records.recordingBanner()->isVisible(); }, 2000));
    EXPECT_EQ(records.recordingBanner()->text(), records.statusLine()->text());
    EXPECT_TRUE(records.recordingBanner()->text().contains(control.statusText()));
    records.grab().save(ORVO_SCREENSHOT_DIR "/records-recording.png");

    // Cancelled, nothing changes.
    records.close();
    answerAlert(false);
    EXPECT_TRUE(records.isVisible());
    EXPECT_TRUE(control.isRecord());

    // Agreed, the recording is stopped and the program ends once its file is final.
    records.close();
    answerAlert(true);
    EXPECT_FALSE(control.isRecord());
    EXPECT_EQ(quits, 0) << "the engine has not finished the file yet";
    for (const auto& output : capture_->audioOutputs) {
        output->finish();
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return quits == 1; }, 5000));
    EXPECT_TRUE(quitFileFinal);
    EXPECT_FALSE(records.recordingBanner()->isVisible());
    EXPECT_EQ(defaultOutput(), test::speakers);
}

} // namespace
} // namespace orvo
