// The installed pair in the build tree: the helper brings the real program back after a kill.
#include <csignal>
#include <iostream>

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "shell/Bundle.h"
#include "support/PrivateSoundServer.h"
#include "support/PrivateSystemPlaces.h"
#include "support/TestFiles.h"

namespace {

constexpr int startTimeoutMs = 20000;
constexpr qint64 relaunchBoundMs = 2000;
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

// The driver installed for real in private /etc and /var/lib, on a sound server of its own.
QString installDriver(QProcessEnvironment environment) {
    environment.remove("ORVO_DRIVER_TEST_ROOT");
    QProcess script;
    script.setProcessEnvironment(environment);
    script.setProcessChannelMode(QProcess::MergedChannels);
    script.start("/bin/sh", {orvo::Bundle::resourceDirectory() + "/install_driver.sh"});
    const bool finished = script.waitForFinished(startTimeoutMs);
    return finished && script.exitCode() == 0 ? QString() : script.readAll() + "(failed)";
}

TEST(HelperWithTheProgram, AKilledProgramIsBackWithinTwoSeconds) {
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "needs the X server of scripts/test";
    orvo::test::PrivateSystemPlaces places;
    ASSERT_EQ(places.error(), QString());
    orvo::test::PrivateSoundServer server;
    ASSERT_EQ(server.startError(), QString());
    QProcessEnvironment environment = server.environment();
    environment.remove("ORVO_DRIVER_TEST_ROOT");
    ASSERT_EQ(installDriver(environment), QString());
    QTemporaryDir home;
    ASSERT_TRUE(QDir(home.path()).mkdir("Documents"));

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

} // namespace
