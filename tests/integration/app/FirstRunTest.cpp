// A newcomer's first start, for real: the shipped binary and its real driver scripts on a
// sound server and an X server of the test's own, with /etc and /var/lib private to the
// test. The installation window appears, a click installs the driver, the program starts
// again into its normal start; the application menu's uninstall removes it all again.
#include <algorithm>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>

#include "shell/API.h"
#include "shell/Bundle.h"
#include "support/PrivateDisplay.h"
#include "support/PrivateSoundServer.h"
#include "support/PrivateSystemPlaces.h"
#include "support/TestFiles.h"

namespace orvo {
namespace {

constexpr int startTimeoutMs = 20000;
constexpr int scriptTimeoutMs = 30000;
const QString driverFolder = "/var/lib/orvo-call-recorder";
const QString pulseDropin = "/etc/pulse/default.pa.d/orvo-record-device.pa";
const QString pipewireDropin = "/etc/pipewire/pipewire-pulse.conf.d/orvo-record-device.conf";
// The install button's face, as the user sees it.
const QRgb buttonColour = qRgb(0x6B, 0x59, 0xCC);

// xdotool takes POSIX extended expressions.
QString exactTitle(const QString& title) {
    return "^" + QRegularExpression::escape(title) + "$";
}

// The centre of the patch of colour inside area of the screen, if any.
std::optional<QPoint> centreOfColour(const QImage& screen, const QRect& area, QRgb colour) {
    QRect found;
    for (int y = area.top(); y <= area.bottom() && y < screen.height(); ++y) {
        for (int x = area.left(); x <= area.right() && x < screen.width(); ++x) {
            if ((screen.pixel(x, y) & RGB_MASK) == (colour & RGB_MASK)) {
                found |= QRect(x, y, 1, 1);
            }
        }
    }
    return found.isEmpty() ? std::nullopt : std::optional(found.center());
}

class FirstRun : public testing::Test {
protected:
    void SetUp() override {
        if (!places.error().isEmpty()) {
            GTEST_SKIP() << places.error().toStdString();
        }
        ASSERT_TRUE(server.startError().isEmpty()) << server.startError().toStdString();
        ASSERT_TRUE(display.startError().isEmpty()) << display.startError().toStdString();
        ASSERT_TRUE(QDir(home.path()).mkpath("Documents"));
        // A machine that never had the driver, whatever this one has.
        QDir(driverFolder).removeRecursively();
        QFile::remove(pulseDropin);
        QFile::remove(pipewireDropin);
    }

    void TearDown() override {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished();
        }
        // The relaunched program is no child of ours.
        QProcess::execute("pkill", {"-KILL", "-f", "-x", QString(ORVO_MAIN_EXECUTABLE)});
    }

    QProcessEnvironment programEnvironment() const {
        QProcessEnvironment environment = server.environment();
        // The real places, which are private to this test: no stand-in root.
        environment.remove("ORVO_DRIVER_TEST_ROOT");
        environment.insert("HOME", home.path());
        environment.insert("XDG_CONFIG_HOME", home.path() + "/.config");
        environment.insert("LANG", "C.UTF-8");
        environment.insert("DISPLAY", display.name());
        environment.insert("QT_QPA_PLATFORM", "xcb");
        return environment;
    }

    void startProgram() {
        program.setProcessEnvironment(programEnvironment());
        program.setStandardOutputFile(home.filePath("console"));
        program.setStandardErrorFile(home.filePath("console"), QIODevice::Append);
        program.start(ORVO_MAIN_EXECUTABLE, {});
        ASSERT_TRUE(program.waitForStarted());
    }

    // The technical log of every run of the program so far.
    QString technicalLog() const {
        const QDir folder(home.path() + "/Documents/ORVO/Temp/Techlog");
        QString text;
        for (const QString& day : folder.entryList(QDir::Files, QDir::Name)) {
            text += QString::fromUtf8(test::readFile(folder.filePath(day)));
        }
        return text;
    }

    bool driverDevicesPresent() const {
        const QString sinks = server.pactl({"list", "short", "sinks"});
        const QString sources = server.pactl({"list", "short", "sources"});
        return sinks.contains("\torvo_record_device\t") &&
               sources.contains("\torvo_record_device_input\t");
    }

    // Answers the next alert of the program with its default (first) button; it becomes
    // lastAlert.
    void confirmAlert(const QStringList& windowsBefore) {
        QString alert;
        ASSERT_TRUE(test::waitUntil(
            [&] {
                for (const QString& window : display.windowsNamed(exactTitle(API::prgName()))) {
                    if (!windowsBefore.contains(window)) {
                        alert = window;
                    }
                }
                return !alert.isEmpty();
            },
            startTimeoutMs))
            << "no alert appeared";
        display.pressKey(alert, "Return");
        lastAlert = alert;
    }

    QStringList alertsShown() const { return display.windowsNamed(exactTitle(API::prgName())); }

    // Without a tray host the records window is the program's face; its application menu is
    // the first of its menu bar: About, Preferences, Uninstall, Quit.
    // windowsSeen: the windows there before, the confirmation's among them.
    void chooseUninstallAndConfirm() {
        ASSERT_TRUE(
            test::waitUntil([&] { return technicalLog().contains("Launch applocation completed"); },
                            startTimeoutMs))
            << technicalLog().toStdString();
        const auto records = display.waitForWindow(exactTitle(API::prgName()), startTimeoutMs);
        ASSERT_TRUE(records) << "the program shows no window";
        const auto frame = display.geometry(*records);
        ASSERT_TRUE(frame);
        const QStringList before = alertsShown();
        display.click(frame->topLeft() + QPoint(24, 10));
        for (const char* key : {"Down", "Down", "Down", "Return"}) {
            display.pressKey(*records, key);
        }
        ASSERT_NO_FATAL_FAILURE(confirmAlert(before));
        windowsSeen = before + QStringList{lastAlert};
    }

    // The install script as root with env added to the program's environment; its output
    // when it failed.
    QString runInstallScript(const QMap<QString, QString>& added = {}) const {
        QProcessEnvironment environment = programEnvironment();
        for (auto entry = added.begin(); entry != added.end(); ++entry) {
            environment.insert(entry.key(), entry.value());
        }
        QProcess script;
        script.setProcessEnvironment(environment);
        script.setProcessChannelMode(QProcess::MergedChannels);
        script.start("/bin/sh", {Bundle::resourceDirectory() + "/install_driver.sh"});
        const bool finished = script.waitForFinished(scriptTimeoutMs);
        const QString output = QString::fromUtf8(script.readAll());
        return finished && script.exitCode() == 0 ? QString() : output + "(failed)";
    }

    test::PrivateSystemPlaces places;
    test::PrivateSoundServer server;
    test::PrivateDisplay display;
    QTemporaryDir home;
    QProcess program;
    QString lastAlert;
    QStringList windowsSeen;
};

TEST_F(FirstRun, InstallsTheDriverFromTheWindowRelaunchesAndUninstallsEverything) {
    startProgram();
    const auto window = display.waitForWindow(exactTitle("Install components"), startTimeoutMs);
    ASSERT_TRUE(window) << "no installation window; console:\n"
                        << test::readFile(home.filePath("console")).toStdString();
    EXPECT_TRUE(technicalLog().contains("Driver not found. install"));
    const auto frame = display.geometry(*window);
    ASSERT_TRUE(frame);
    QDir().mkpath(ORVO_SCREENSHOT_DIR);
    // The window draws itself after it is mapped.
    std::optional<QPoint> button;
    test::waitUntil(
        [&] {
            button = centreOfColour(
                display.screenshot(QString(ORVO_SCREENSHOT_DIR) + "/install-window.png"), *frame,
                buttonColour);
            return button.has_value();
        },
        startTimeoutMs);
    ASSERT_TRUE(button) << "no install button on the screen";

    const QStringList before = alertsShown();
    display.click(*button);
    confirmAlert(before);

    // The script ran with administrator rights against the private places and the server.
    ASSERT_TRUE(
        test::waitUntil([&] { return QFileInfo::exists(API::pathDriver()); }, scriptTimeoutMs))
        << test::readFile(home.filePath("console")).toStdString();
    EXPECT_TRUE(driverDevicesPresent());
    EXPECT_TRUE(QFileInfo::exists(pulseDropin));
    EXPECT_TRUE(QFileInfo::exists(pipewireDropin));

    confirmAlert(before);
    ASSERT_TRUE(program.waitForFinished(startTimeoutMs)) << "the program did not relaunch";
    EXPECT_EQ(program.exitCode(), 0);

    ASSERT_NO_FATAL_FAILURE(chooseUninstallAndConfirm());

    const QString storage = home.path() + "/Documents/ORVO";
    ASSERT_TRUE(test::waitUntil([&] { return !QFileInfo::exists(storage); }, scriptTimeoutMs))
        << "the storage tree is still there; log:\n"
        << technicalLog().toStdString();
    EXPECT_FALSE(QFileInfo::exists(driverFolder));
    EXPECT_FALSE(QFileInfo::exists(pulseDropin));
    EXPECT_FALSE(QFileInfo::exists(pipewireDropin));
    EXPECT_FALSE(driverDevicesPresent());
    EXPECT_TRUE(test::waitUntil(
        [&] {
            return QProcess::execute("pgrep", {"-f", "-x", ORVO_MAIN_EXECUTABLE}) != 0;
        },
        startTimeoutMs))
        << "the program still runs after the uninstall";
}

// Root must not take directions from whoever raised its rights; without rights, nothing goes.
TEST_F(FirstRun, RaisedRightsWriteTheRealPlacesAndRefusedRightsKeepTheDriverAndTheRecordings) {
    QTemporaryDir standIn;
    for (const char* raisedBy : {"SUDO_UID", "PKEXEC_UID"}) {
        SCOPED_TRACE(raisedBy);
        QDir(driverFolder).removeRecursively();
        QFile::remove(pulseDropin);
        EXPECT_EQ(runInstallScript({{"ORVO_DRIVER_TEST_ROOT", standIn.path()}, {raisedBy, "0"}}),
                  QString());
        EXPECT_TRUE(QFileInfo::exists(API::pathDriver()));
        EXPECT_TRUE(QFileInfo::exists(pulseDropin));
        EXPECT_TRUE(QDir(standIn.path()).isEmpty());
    }
    ASSERT_EQ(runInstallScript(), QString());
    ASSERT_TRUE(driverDevicesPresent());
    // An ordinary user, whom pkexec asks for a password that no one gives here.
    const QString user = "nobody";
    ASSERT_EQ(QProcess::execute("chown", {"-R", user + ":", home.path()}), 0);
    const QString socket = QString::fromUtf8(server.address()).mid(QString("unix:").size());
    QFile::setPermissions(QFileInfo(socket).path(), QFile::ReadOwner | QFile::WriteOwner |
                                                        QFile::ExeOwner | QFile::ExeGroup |
                                                        QFile::ExeOther);
    QFile::setPermissions(socket, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther |
                                      QFile::WriteOther);
    QProcessEnvironment environment = programEnvironment();
    environment.insert("XDG_RUNTIME_DIR", home.path());
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start("setpriv", {"--reuid=" + user, "--regid=nogroup", "--clear-groups", "--",
                              ORVO_MAIN_EXECUTABLE});
    ASSERT_TRUE(program.waitForStarted());

    ASSERT_NO_FATAL_FAILURE(chooseUninstallAndConfirm());
    ASSERT_TRUE(test::waitUntil(
        [&] {
            const QStringList shown = alertsShown();
            return std::any_of(shown.begin(), shown.end(), [&](const QString& window) {
                return !windowsSeen.contains(window);
            });
        },
        scriptTimeoutMs))
        << "no error shown; console:\n"
        << program.readAll().toStdString();

    display.screenshot(QString(ORVO_SCREENSHOT_DIR) + "/uninstall-refused.png");
    EXPECT_TRUE(QFileInfo(home.path() + "/Documents/ORVO/records.realm").isFile());
    EXPECT_TRUE(QFileInfo::exists(API::pathDriver()));
    EXPECT_TRUE(QFileInfo::exists(pulseDropin));
    EXPECT_TRUE(driverDevicesPresent());
    EXPECT_EQ(program.state(), QProcess::Running);
}

} // namespace
} // namespace orvo
