// A recording outlives the ways a program ends: quit from the tray, a signal, a kill, and a
// records folder on a nearly full disk. The program runs on the sound server of scripts/test
// with the virtual driver installed and its own backends.
#include <chrono>
#include <memory>
#include <thread>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "app/AppDelegate.h"
#include "audio/AudioManager.h"
#include "control/RecordingController.h"
#include "integration/app/LaunchedProgram.h"
#include "integration/platform/MediaCheck.h"
#include "platform/FileAttributes.h"
#include "platform/Platform.h"
#include "recording/RecordManager.h"
#include "recording/RecordingSpace.h"
#include "recording/SegmentRecovery.h"
#include "shell/API.h"
#include "shell/CopyFiles.h"
#include "shell/Logging.h"
#include "shell/SettingsManager.h"
#include "support/Dialogs.h"
#include "support/RealRecording.h"
#include "support/TestFiles.h"
#include "tray/OrvoMenuTray.h"

namespace orvo {
namespace {

using test::actionTitled;

const QString microphoneEntry = QStringLiteral("Start recording from Microphone");

using test::recordNamed;

// Counted, not only looked for: other test programs on the shared server may hold their own.
int combinedOutputs() {
    int count = 0;
    const auto outputs = AudioManager::getOutputDevices();
    for (const auto& [device, name] : outputs.value_or(std::map<AudioDeviceID, QString>{})) {
        count += name == "ORVO Multi Device" ? 1 : 0;
    }
    return count;
}

QStringList segmentsOf(const QString& fileName) {
    const QString stamp = QFileInfo(fileName).completeBaseName();
    return QDir(API::audioRecordsPath()).entryList({stamp + "_*"}, QDir::Files);
}

// The alert that the program shows now, as a sheet on the records window or on its own.
AlertDialog* shownAlert(const AppDelegate& delegate) {
    if (AlertDialog* alert = test::modalAlert()) {
        return alert;
    }
    return delegate.mainWC() != nullptr ? delegate.mainWC()->findChild<AlertDialog*>() : nullptr;
}

class RecordingSurvival : public test::LaunchedProgram {
protected:
    void SetUp() override {
        LaunchedProgram::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        exitProgram = [this](int status) { exitStatus = status; };
        combinedBefore = combinedOutputs();
        if (!Realm::defaultConfiguration()) {
            Realm::setDefaultConfiguration({API::recordsRealmPath(), 1});
        }
    }
    // The server may list an unloaded module for a moment longer.
    // made: how many a running program keeps ready for its next start.
    bool combinedGone(int made = 0) const {
        return QTest::qWaitFor([this, made] { return combinedOutputs() <= combinedBefore + made; },
                               2000);
    }

    bool recoveryDone() {
        return QTest::qWaitFor([this] { return !delegate->segmentRecovery()->isRunning(); }, 20000);
    }

    // The program in a process of its own records until it gets signal (SIGTERM or SIGKILL);
    // the next start finds its recording in the catalogue, as long as it was recorded.
    void endTheRecorderWith(int signalNumber) {
        QTemporaryDir folder;
        test::TonePlayer nearSide(folder.path(), "microphone_feed", 1000, 0.3);
        QProcess program;
        program.start(ORVO_PROGRAM_PROBE, {});
        QByteArray output;
        const QRegularExpression started(QStringLiteral("recording (\\S+)"));
        ASSERT_TRUE(test::waitUntil(
            [&] {
                program.waitForReadyRead(100);
                output += program.readAllStandardOutput();
                return started.match(QString::fromUtf8(output)).hasMatch() ||
                       program.state() == QProcess::NotRunning;
            },
            20000));
        const QString fileName = started.match(QString::fromUtf8(output)).captured(1);
        ASSERT_FALSE(fileName.isEmpty()) << output.toStdString();
        QElapsedTimer recorded;
        recorded.start();
        // The length of the call, not a wait for a condition.
        std::this_thread::sleep_for(std::chrono::milliseconds(4000));
        ::kill(pid_t(program.processId()), signalNumber);
        const double seconds = double(recorded.elapsed()) / 1000.0;
        QElapsedTimer ending;
        ending.start();
        ASSERT_TRUE(program.waitForFinished(5000));
        if (signalNumber == SIGTERM) {
            EXPECT_LT(ending.elapsed(), 2000);
            EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(program.exitCode(), 0);
            EXPECT_EQ(AudioManager::getDefaultOutputDevice(), userOutput);
            EXPECT_TRUE(combinedGone());
        }
        EXPECT_FALSE(segmentsOf(fileName).isEmpty()) << "the segments wait for the next start";
        EXPECT_EQ(recordNamed(fileName), nullptr);

        ASSERT_TRUE(launch());
        ASSERT_TRUE(recoveryDone());
        const auto record = recordNamed(fileName);
        ASSERT_NE(record, nullptr) << fileName.toStdString();
        EXPECT_NEAR(record->duration(), seconds, 1.0);
        EXPECT_TRUE(segmentsOf(fileName).isEmpty());
        EXPECT_TRUE(test::probe(API::audioRecordsPath() + fileName).readable);
        EXPECT_EQ(AudioManager::getDefaultOutputDevice(), userOutput);
        EXPECT_TRUE(combinedGone(1)) << "only the one made ahead of the next start";
    }

    std::optional<int> exitStatus;
    int combinedBefore = 0;
};

TEST_F(RecordingSurvival, QuitFromTheTrayFinalisesTheCallAndGivesTheOutputBack) {
    ASSERT_TRUE(launch());
    OrvoMenuTray& tray = *delegate->orvoMenuTray();
    QAction* microphone = actionTitled(*tray.menu(), microphoneEntry);
    ASSERT_NE(microphone, nullptr);
    microphone->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return tray.isRecord(); }, 10000));
    const QString fileName = tray.recordManager()->fileName();

    QTemporaryDir folder;
    test::TonePlayer farSide(folder.path(), "@DEFAULT_SINK@", 440, 0.3);
    test::TonePlayer nearSide(folder.path(), "microphone_feed", 1000, 0.3);
    ASSERT_TRUE(test::waitUntil([&] { return farSide.playing() && nearSide.playing(); }, 5000));
    QTest::qWait(3000);

    actionTitled(*tray.menu(), tray.txtCloseApp)->trigger();
    EXPECT_FALSE(exitStatus.has_value()) << "a recording is running: the program asks first";
    AlertDialog* alert = shownAlert(*delegate);
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(test::buttonTitles(alert).front(), "Stop and Quit");
    alert->buttons().front()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return exitStatus.has_value(); }, 30000));
    EXPECT_EQ(*exitStatus, 0);

    EXPECT_EQ(AudioManager::getDefaultOutputDevice(), userOutput);
    EXPECT_TRUE(combinedGone());
    ASSERT_NE(recordNamed(fileName), nullptr);
    EXPECT_TRUE(segmentsOf(fileName).isEmpty());
    const auto samples = test::decodeAudio(API::audioRecordsPath() + fileName);
    // Whether a missing side came late or never tells a slow route from a lost one.
    EXPECT_GT(test::toneAmplitude(samples, 440, 0.5, 2.5), 0.01)
        << "over the whole call: " << test::toneAmplitude(samples, 440, 0.0, 10.0);
    EXPECT_GT(test::toneAmplitude(samples, 1000, 0.5, 2.5), 0.01)
        << "over the whole call: " << test::toneAmplitude(samples, 1000, 0.0, 10.0);
}

TEST_F(RecordingSurvival, ATerminatedRecorderIsRecoveredAtTheNextStart) {
    endTheRecorderWith(SIGTERM);
}

TEST_F(RecordingSurvival, AKilledRecorderIsRecoveredAtTheNextStart) {
    endTheRecorderWith(SIGKILL);
}

// Runs in a private mount namespace of its own (see below), on a 20 MB records folder.
void recordOnASmallDisk(AppDelegate& delegate) {
    OrvoMenuTray& tray = *delegate.orvoMenuTray();
    QAction* microphone = actionTitled(*tray.menu(), microphoneEntry);
    ASSERT_NE(microphone, nullptr);
    const auto available = [] {
        return Platform::shared().get<FileAttributes>().availableBytes(API::audioRecordsPath());
    };
    SettingsManager::shared().writeValueSetting("0", "QAudio");
    const std::int64_t tenMinutes = RecordingSpace::neededToStart(false, SessionPreset::low);
    QFile filler(API::homePath() + "/Records/filler");
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    // Really allocated: a sparse file would take no room.
    const auto leave = [&](std::int64_t bytes) {
        const std::int64_t size = filler.size() + *available() - bytes;
        ASSERT_EQ(::posix_fallocate(filler.handle(), 0, off_t(size)), 0);
        filler.resize(size);
    };

    leave(tenMinutes / 2);
    microphone->trigger();
    EXPECT_FALSE(tray.isRecord()) << "refused: not ten minutes of room";
    AlertDialog* refused = shownAlert(delegate);
    ASSERT_NE(refused, nullptr);
    EXPECT_TRUE(refused->informativeText().contains("not enough free disk space"));
    delete refused;

    ASSERT_TRUE(filler.resize(0));
    leave(tenMinutes + 1000000);
    microphone->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return tray.isRecord(); }, 10000));
    const QString fileName = tray.recordManager()->fileName();
    QElapsedTimer recorded;
    recorded.start();
    QTest::qWait(3000);
    // The disk fills up from elsewhere: the recording ends for good while the merge fits.
    leave(RecordingSpace::reserveBytes);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tray.isRecord() && !tray.isStopping(); }, 10000));
    const double seconds = double(recorded.elapsed()) / 1000.0;

    const auto record = recordNamed(fileName);
    if (record) {
        EXPECT_TRUE(segmentsOf(fileName).isEmpty());
        const test::ProbedFile merged = test::probe(API::audioRecordsPath() + fileName);
        ASSERT_TRUE(merged.readable);
        EXPECT_NEAR(merged.durationSeconds, seconds, 1.5) << "nothing recorded is lost";
    } else {
        // No room for the merge: the segments are kept whole for the next start.
        ASSERT_FALSE(segmentsOf(fileName).isEmpty());
        for (const QString& segment : segmentsOf(fileName)) {
            EXPECT_TRUE(test::probe(API::audioRecordsPath() + segment).readable);
        }
    }
    AlertDialog* stopped = shownAlert(delegate);
    ASSERT_NE(stopped, nullptr);
    EXPECT_TRUE(stopped->informativeText().contains("disk is almost full"));
    delete stopped;
}

TEST_F(RecordingSurvival, ASmallDiskRefusesTheStartOrEndsTheRecordingWithoutLoss) {
    if (qEnvironmentVariableIsSet("ORVO_PRIVATE_MOUNT")) {
        CopyFiles::checkFilesAndCopy();
        const QString records = API::homePath() + "/Records";
        QProcess mount;
        mount.start("mount", {"-t", "tmpfs", "-o", "size=20m", "tmpfs", records});
        ASSERT_TRUE(mount.waitForFinished(5000) && mount.exitCode() == 0)
            << mount.readAllStandardError().toStdString();
        ASSERT_TRUE(launch()); // recreates the folders on the new file system
        recordOnASmallDisk(*delegate);
        return;
    }
    if (::geteuid() != 0) {
        GTEST_SKIP() << "a 20 MB records folder needs a private mount namespace: run as root";
    }
    // The same test again in a mount namespace of its own, so that the tmpfs is nobody else's.
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ORVO_PRIVATE_MOUNT", "1");
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start("unshare",
                {"--mount", "--propagation", "private", QCoreApplication::applicationFilePath(),
                 "--gtest_filter=RecordingSurvival.ASmallDisk*"});
    ASSERT_TRUE(child.waitForFinished(60000));
    const QString output = QString::fromUtf8(child.readAll());
    ASSERT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
}

} // namespace
} // namespace orvo
