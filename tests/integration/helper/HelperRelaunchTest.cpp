// The installed pair in the build tree: the helper brings the real program back after a kill.
#include <array>
#include <csignal>
#include <iostream>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "shell/Bundle.h"
#include "support/PrivateSoundServer.h"
#include "support/PrivateSystemPlaces.h"
#include "support/TestFiles.h"

namespace {

constexpr int startTimeoutMs = 20000;
// The helper pauses a second before it starts a program that failed; then the start itself.
constexpr qint64 relaunchBoundMs = 3000;
const QString completed = QStringLiteral("Launch applocation completed");

class HelperWithProgram {
public:
    HelperWithProgram(const QString& home, QProcessEnvironment environment) {
        environment.insert("HOME", home);
        environment.insert("XDG_CONFIG_HOME", home + "/.config");
        environment.insert("LANG", "C.UTF-8");
        helper_.setProcessEnvironment(environment);
        helper_.setProcessChannelMode(QProcess::MergedChannels);
        helper_.start(ORVO_HELPER_EXECUTABLE, {});
    }
    ~HelperWithProgram() {
        const qint64 program = this->program();
        helper_.kill();
        helper_.waitForFinished();
        if (program > 0) {
            ::kill(pid_t(program), SIGKILL);
        }
    }

    // The program that the helper launched; 0 when there is none.
    qint64 program() const {
        const auto pid = helper_.processId();
        return QString::fromUtf8(
                   orvo::test::readFile(QString("/proc/%1/task/%1/children").arg(pid)))
            .trimmed()
            .section(' ', 0, 0)
            .toLongLong();
    }
    // Waits until the console holds text count times, or stops with something else.
    QString outputUntil(const QString& text, qsizetype count) {
        QElapsedTimer timer;
        timer.start();
        while (output_.count(text) < count && !output_.contains("Driver not found") &&
               timer.elapsed() < startTimeoutMs) {
            helper_.waitForReadyRead(50);
            output_ += QString::fromUtf8(helper_.readAll());
        }
        return output_;
    }

private:
    QProcess helper_;
    QString output_;
};

// Runs the driver's install script against the server of environment, as the program would.
QString installDriver(QProcessEnvironment environment) {
    environment.remove("ORVO_DRIVER_TEST_ROOT");
    QProcess script;
    script.setProcessEnvironment(environment);
    script.setProcessChannelMode(QProcess::MergedChannels);
    script.start("/bin/sh", {orvo::Bundle::resourceDirectory() + "/install_driver.sh"});
    const bool finished = script.waitForFinished(startTimeoutMs);
    return finished && script.exitCode() == 0 ? QString() : script.readAll() + "(failed)";
}

// The driver installed for real in private /etc and /var/lib, on a sound server of its own;
// a home of the test's own.
class ProgramWithDriver : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY"))
            << "needs the X server of scripts/test";
        ASSERT_EQ(places.error(), QString());
        ASSERT_EQ(server.startError(), QString());
        environment = server.environment();
        environment.remove("ORVO_DRIVER_TEST_ROOT");
        ASSERT_EQ(installDriver(environment), QString());
        ASSERT_TRUE(QDir(home.path()).mkdir("Documents"));
    }

    orvo::test::PrivateSystemPlaces places;
    orvo::test::PrivateSoundServer server;
    QProcessEnvironment environment;
    QTemporaryDir home;
};

TEST_F(ProgramWithDriver, AKilledProgramIsBackWithinThreeSeconds) {

    HelperWithProgram helper(home.path(), environment);
    QString output = helper.outputUntil(completed, 1);
    ASSERT_EQ(output.count(completed), 1) << output.toStdString();
    const qint64 first = helper.program();
    ASSERT_GT(first, 0);

    QElapsedTimer sinceKill;
    sinceKill.start();
    ASSERT_EQ(::kill(pid_t(first), SIGKILL), 0);
    output = helper.outputUntil(completed, 2);
    const qint64 elapsedMs = sinceKill.elapsed();
    ASSERT_EQ(output.count(completed), 2) << output.toStdString();
    EXPECT_LE(elapsedMs, relaunchBoundMs);
    RecordProperty("relaunchMs", int(elapsedMs));
    std::cout << "relaunched and started in " << elapsedMs << " ms" << std::endl;
    EXPECT_TRUE(output.contains("id app: com.orvo.orvomac exitWithCode: 9"));
    EXPECT_NE(helper.program(), first);
}

// Two copies of the real program started in the same instant, and a third later: one runs,
// the others hand over and leave with status 0, touching nothing of the first one's.
TEST_F(ProgramWithDriver, CopiesStartedBesideARunningOneHandOverAndTouchNothing) {
    QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    environment.insert("HOME", home.path());
    environment.insert("XDG_CONFIG_HOME", home.path() + "/.config");
    environment.insert("XDG_RUNTIME_DIR", runtime.path());
    environment.insert("LANG", "C.UTF-8");
    // A tree readable by all, as a permissive umask leaves it.
    const QString tree = home.path() + "/Documents/ORVO";
    ASSERT_TRUE(QDir().mkpath(tree + "/Records/Audio"));
    orvo::test::writeFile(tree + "/Records/Audio/older.m4a", "older");
    for (const QString& path : {tree, tree + "/Records", tree + "/Records/Audio"}) {
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                        QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                        QFile::ExeOther);
    }
    const QString program = ORVO_MAIN_EXECUTABLE;
    std::array<QProcess, 3> copies;
    for (QProcess& copy : copies) {
        copy.setProcessEnvironment(environment);
        copy.setProcessChannelMode(QProcess::MergedChannels);
        copy.setProgram(program);
    }
    const auto cleanUp = qScopeGuard([&] {
        for (QProcess& copy : copies) {
            copy.kill();
            copy.waitForFinished();
        }
    });
    copies[0].start();
    copies[1].start();
    ASSERT_TRUE(orvo::test::waitUntil(
        [&] {
            // A QProcess learns of its end only while it waits.
            return copies[0].waitForFinished(25) || copies[1].waitForFinished(25);
        },
        startTimeoutMs))
        << copies[0].readAll().toStdString() << "\n---\n"
        << copies[1].readAll().toStdString();
    const int gone = copies[0].state() == QProcess::NotRunning ? 0 : 1;
    QProcess& first = copies[1 - gone];
    EXPECT_EQ(copies[gone].exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(copies[gone].exitCode(), 0);
    QString output;
    ASSERT_TRUE(orvo::test::waitUntil(
        [&] {
            first.waitForReadyRead(50);
            output += QString::fromUtf8(first.readAll());
            return output.contains(completed);
        },
        startTimeoutMs))
        << output.toStdString();
    EXPECT_EQ(first.state(), QProcess::Running);
    // Everything in the tree is the user's only, what was there and what the start made.
    const auto mode = [](const QString& path) {
        QProcess stat;
        stat.start("stat", {"-c", "%a", path});
        stat.waitForFinished();
        return QString::fromUtf8(stat.readAllStandardOutput()).trimmed().toStdString();
    };
    for (const QString& folder : {tree, tree + "/Records/Audio", tree + "/Temp/Techlog"}) {
        EXPECT_EQ(mode(folder), "700") << folder.toStdString();
    }
    const QStringList logs = QDir(tree + "/Temp/Techlog").entryList(QDir::Files);
    ASSERT_FALSE(logs.isEmpty());
    for (const QString& file : {tree + "/Records/Audio/older.m4a", tree + "/Settings.plist",
                                tree + "/records.realm", tree + "/Temp/Techlog/" + logs.front()}) {
        EXPECT_EQ(mode(file), "600") << file.toStdString();
    }

    // What a recording of the first copy leaves while it runs: segments without a record, and
    // its combined output.
    const QString audio = home.path() + "/Documents/ORVO/Records/Audio/";
    const QString tone = runtime.filePath("tone.m4a");
    ASSERT_EQ(QProcess::execute("ffmpeg", {"-v", "error", "-f", "lavfi", "-i",
                                           "sine=frequency=440:duration=2", "-c:a", "aac", tone}),
              0);
    const QStringList live{"20261208120000_0.m4a", "20261208120000_1.m4a"};
    for (const QString& segment : live) {
        ASSERT_TRUE(QFile::copy(tone, audio + segment));
    }
    const auto combined = [&] {
        return server.pactl({"list", "short", "sinks"}).count("ORVO") +
               server.pactl({"get-default-sink"}).count("orvo");
    };
    const auto before = combined();
    const qsizetype opened = output.count("Open application");

    QElapsedTimer handOver;
    handOver.start();
    copies[2].start();
    ASSERT_TRUE(copies[2].waitForFinished(startTimeoutMs));
    std::cout << "a later copy left after " << handOver.elapsed() << " ms" << std::endl;
    EXPECT_EQ(copies[2].exitCode(), 0);
    EXPECT_TRUE(orvo::test::waitUntil(
        [&] {
            first.waitForReadyRead(50);
            output += QString::fromUtf8(first.readAll());
            return output.count("Open application") > opened;
        },
        5000))
        << "the first copy shows its window";
    for (const QString& segment : live) {
        EXPECT_TRUE(QFileInfo::exists(audio + segment)) << segment.toStdString();
    }
    EXPECT_EQ(combined(), before);
    EXPECT_EQ(first.state(), QProcess::Running);
}

} // namespace
