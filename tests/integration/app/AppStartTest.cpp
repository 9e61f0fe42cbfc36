// Starts the real program with a private home on the test's X server.
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "shell/API.h"
#include "support/TestFiles.h"

namespace orvo {
namespace {

constexpr int startTimeoutMs = 20000;

class RunningProgram {
public:
    explicit RunningProgram(const QString& home) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home);
        environment.insert("XDG_CONFIG_HOME", home + "/.config");
        environment.insert("LANG", "C.UTF-8");
        process_.setProcessEnvironment(environment);
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(ORVO_MAIN_EXECUTABLE, {});
    }
    ~RunningProgram() {
        process_.kill();
        process_.waitForFinished();
    }

    // Everything printed until text appears, or until the timeout.
    QString outputUntil(const QString& text) {
        QElapsedTimer timer;
        timer.start();
        while (!output_.contains(text) && timer.elapsed() < startTimeoutMs &&
               process_.state() != QProcess::NotRunning) {
            process_.waitForReadyRead(200);
            output_ += QString::fromUtf8(process_.readAll());
        }
        output_ += QString::fromUtf8(process_.readAll());
        return output_;
    }
    bool running() const { return process_.state() == QProcess::Running; }

private:
    QProcess process_;
    QString output_;
};

TEST(ProgramStart, WithoutTheDriverBuildsTheTreeAndLogsTheInstallBranch) {
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "needs the X server of scripts/test";
    if (QFileInfo::exists(API::pathDriver())) {
        GTEST_SKIP() << "the virtual driver is installed on this machine";
    }
    QTemporaryDir home;
    ASSERT_TRUE(QDir(home.path()).mkdir("Documents"));
    const QString root = home.path() + "/Documents/ORVO";

    RunningProgram program(home.path());
    const QString output = program.outputUntil("Driver not found. install");

    const QString launch = "Event: info Value: Launch application " + API::prgTitle();
    ASSERT_TRUE(output.contains(launch)) << output.toStdString();
    ASSERT_TRUE(output.contains("Event: info Value: Driver not found. install"))
        << output.toStdString();
    EXPECT_LT(output.indexOf(launch), output.indexOf("Driver not found. install"));
    EXPECT_FALSE(output.contains("Launch applocation completed"));
    EXPECT_TRUE(program.running()) << output.toStdString();

    for (const char* folder : {"Records/Audio", "Records/Video", "Temp/Techlog", "Temp/Icon"}) {
        EXPECT_TRUE(QFileInfo(root + "/" + folder).isDir()) << folder;
    }
    EXPECT_TRUE(QFileInfo(root + "/Settings.plist").isFile());

    // The console gets each line just before the day file does.
    const QDir logFolder(root + "/Temp/Techlog");
    const auto dayFiles = [&] { return logFolder.entryList(QDir::Files); };
    test::waitUntil(
        [&] {
            return !dayFiles().isEmpty() &&
                   !test::readFile(logFolder.filePath(dayFiles()[0])).isEmpty();
        },
        startTimeoutMs);
    ASSERT_EQ(dayFiles().size(), 1);
    const QStringList lines = test::readLines(logFolder.filePath(dayFiles()[0]));
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith("Value: Driver not found. install"));
}

} // namespace
} // namespace orvo
