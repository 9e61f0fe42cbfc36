// The helper's copy beside a stand-in main program in a temporary folder.
#include <algorithm>
#include <csignal>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include "support/TestFiles.h"

namespace {

constexpr int launchTimeoutMs = 5000;
const QString crashLine = QStringLiteral("id app: com.orvo.orvomac exitWithCode: 9");

// CPU time that the process has used, in clock ticks (user and system).
long cpuTicks(qint64 pid) {
    const QString stat = QString::fromUtf8(orvo::test::readFile(QString("/proc/%1/stat").arg(pid)));
    // Fields after the command name, which is in parentheses and may hold spaces.
    const QStringList fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return fields.value(11).toLong() + fields.value(12).toLong();
}

class HelperTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        ASSERT_TRUE(QFile::copy(ORVO_HELPER_EXECUTABLE, helperPath()));
        ASSERT_TRUE(QFile::copy(ORVO_STAND_IN_EXECUTABLE, mainPath()));
        ASSERT_TRUE(QFile::copy(ORVO_STAND_IN_EXECUTABLE, folder.filePath("other-program")));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ORVO_STAND_IN_LOG", logPath());
        helper.setProcessEnvironment(environment);
        helper.setProcessChannelMode(QProcess::MergedChannels);
    }
    void TearDown() override {
        helper.kill();
        helper.waitForFinished();
        for (qint64 pid : launches()) {
            ::kill(pid_t(pid), SIGKILL);
        }
    }

    QString helperPath() const { return folder.filePath("orvo-call-recorder-helper"); }
    QString mainPath() const { return folder.filePath("orvo-call-recorder"); }
    QString logPath() const { return folder.filePath("starts.log"); }

    // Process ids of the stand-in's starts, in order.
    QList<qint64> launches() const {
        QList<qint64> pids;
        for (const QString& line : orvo::test::readLines(logPath())) {
            pids << line.section(' ', 0, 0).toLongLong();
        }
        return pids;
    }
    // When each start happened, in milliseconds of the monotonic clock.
    QList<qint64> launchTimes() const {
        QList<qint64> times;
        for (const QString& line : orvo::test::readLines(logPath())) {
            times << line.section(' ', 1, 1).toLongLong();
        }
        return times;
    }
    // Also measures how long the launch took: the helper's reaction time on this machine.
    bool waitForLaunches(qsizetype count) {
        QElapsedTimer clock;
        clock.start();
        const bool launched =
            orvo::test::waitUntil([&] { return launches().size() >= count; }, launchTimeoutMs);
        reactionMs = std::max(reactionMs, clock.elapsed());
        return launched;
    }
    // Long enough for a wrong launch or line to show up: a few times the slowest reaction
    // measured so far.
    void settle() const { QThread::msleep(std::max<qint64>(300, 4 * reactionMs)); }
    QString console() {
        helper.waitForReadyRead(0);
        output += QString::fromUtf8(helper.readAll());
        return output;
    }
    void startHelper() {
        helper.start(helperPath(), {});
        ASSERT_TRUE(helper.waitForStarted());
    }
    // Starts a program of the folder by itself, as the user would.
    static void startDetached(const QString& program, const QString& log) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ORVO_STAND_IN_LOG", log);
        process.setProcessEnvironment(environment);
        process.setProgram(program);
        ASSERT_TRUE(process.startDetached());
    }

    QTemporaryDir folder;
    QProcess helper;
    QString output;
    qint64 reactionMs = 0;
};

TEST_F(HelperTest, LaunchesOnceAndRelaunchesOnlyAfterACrash) {
    startHelper();
    ASSERT_TRUE(waitForLaunches(1));
    settle();
    ASSERT_EQ(launches().size(), 1) << "exactly one launch at start";

    ASSERT_EQ(::kill(pid_t(launches()[0]), SIGKILL), 0);
    ASSERT_TRUE(waitForLaunches(2));
    EXPECT_TRUE(orvo::test::waitUntil([&] { return console().contains(crashLine); }, 2000))
        << console().toStdString();
    settle();
    EXPECT_EQ(launches().size(), 2) << "one relaunch per crash";
    EXPECT_EQ(console().count("exitWithCode"), 1);

    // A quit (status 0) leaves the program stopped and the helper waiting.
    ASSERT_EQ(::kill(pid_t(launches()[1]), SIGTERM), 0);
    settle();
    EXPECT_EQ(launches().size(), 2);
    EXPECT_EQ(console().count("exitWithCode"), 1);
    EXPECT_EQ(helper.state(), QProcess::Running);
}

TEST_F(HelperTest, ARunningProgramIsWatchedNotLaunchedAndItsEndCountsAsAQuit) {
    startDetached(mainPath(), logPath());
    ASSERT_TRUE(waitForLaunches(1));
    startHelper();
    settle();
    ASSERT_EQ(launches().size(), 1) << "already running: no launch";

    // Another program beside it ending changes nothing.
    const QString otherLog = folder.filePath("other.log");
    startDetached(folder.filePath("other-program"), otherLog);
    ASSERT_TRUE(orvo::test::waitUntil([&] { return !orvo::test::readFile(otherLog).isEmpty(); },
                                      launchTimeoutMs));
    ::kill(pid_t(orvo::test::readLines(otherLog).value(0).section(' ', 0, 0).toLongLong()),
           SIGKILL);
    settle();
    EXPECT_EQ(launches().size(), 1);

    // Not our child: even a kill reads as a quit, as its status cannot be known.
    ::kill(pid_t(launches()[0]), SIGKILL);
    settle();
    EXPECT_EQ(launches().size(), 1);
    EXPECT_FALSE(console().contains("exitWithCode"));
    EXPECT_EQ(helper.state(), QProcess::Running);
}

TEST_F(HelperTest, AProgramThatFailsAtOnceIsRelaunchedFiveTimesWithGrowingPausesThenNoMore) {
    QProcessEnvironment environment = helper.processEnvironment();
    environment.insert("ORVO_STAND_IN_EXIT", "1");
    helper.setProcessEnvironment(environment);
    startHelper();
    // The pauses are 1, 2, 4, 8 and 16 s.
    ASSERT_TRUE(orvo::test::waitUntil([&] { return launches().size() >= 6; }, 45000))
        << launches().size() << " starts";
    EXPECT_TRUE(
        orvo::test::waitUntil([&] { return console().contains("is not started again"); }, 5000))
        << console().toStdString();
    QThread::msleep(3000);
    EXPECT_EQ(launches().size(), 6) << "not again";
    EXPECT_EQ(console().count("exitWithCode: 1"), 6);
    EXPECT_EQ(console().count("is not started again"), 1) << "said once";
    const QList<qint64> times = launchTimes();
    for (int i = 1; i < times.size(); ++i) {
        const qint64 pause = times[i] - times[i - 1];
        const qint64 expected = 1000 << (i - 1);
        EXPECT_GE(pause, expected) << "pause " << i;
        EXPECT_LT(pause, expected + 2000) << "pause " << i;
    }
    EXPECT_EQ(helper.state(), QProcess::Running) << "it keeps watching for a start by hand";
}

// A bound on the waiting helper's CPU use, not a speed measurement.
TEST_F(HelperTest, WaitingUsesNoCpu) {
    startHelper();
    ASSERT_TRUE(waitForLaunches(1));
    QThread::msleep(200);
    const long before = cpuTicks(helper.processId());
    // Five seconds as the program's parent, five watching for the next start after a quit.
    QThread::msleep(5000);
    ::kill(pid_t(launches()[0]), SIGTERM);
    QThread::msleep(5000);
    const long ticks = cpuTicks(helper.processId()) - before;
    EXPECT_LE(ticks, 2) << "clock ticks of " << sysconf(_SC_CLK_TCK) << " per second";
}

} // namespace
