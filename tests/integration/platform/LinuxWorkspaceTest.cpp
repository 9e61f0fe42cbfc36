#include "platform/linux/desktop/LinuxWorkspace.h"

#include <csignal>
#include <map>

#include <sys/prctl.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

#include "support/TestFiles.h"

namespace orvo {

// The file manager's D-Bus service, as the test's own object on a private session bus.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList shown;
public slots:
    void ShowItems(const QStringList& uris, const QString& /*startupId*/) {
        shown = uris;
        emit itemsShown();
    }
signals:
    void itemsShown();
};

// The desktop's notification server, as the test's own object: it notes what it was asked
// to show and numbers the notifications from 1.
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown {
        QString summary;
        QString body;
        QStringList actions;
    };
    std::vector<Shown> shown;
public slots:
    uint Notify(const QString& /*application*/, uint /*replaces*/, const QString& /*icon*/,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& /*hints*/, int /*timeout*/) {
        shown.push_back({summary, body, actions});
        return uint(shown.size());
    }
};

namespace {

constexpr int timeoutMs = 5000;

// A session bus of the test's own, once per process, so that no real desktop answers.
void usePrivateSessionBus() {
    struct Bus {
        Bus() {
            // Ends with the test program, however that ends.
            process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
            // Its socket in a folder that goes with the test: by default it stays in /tmp.
            process.start("dbus-daemon", {"--session", "--nofork", "--print-address=1",
                                          "--address=unix:dir=" + folder.path()});
            if (process.waitForReadyRead(timeoutMs)) {
                qputenv("DBUS_SESSION_BUS_ADDRESS", process.readLine().trimmed());
            }
        }
        ~Bus() {
            process.terminate();
            process.waitForFinished();
        }
        QTemporaryDir folder;
        QProcess process;
    };
    static Bus bus;
    ASSERT_EQ(bus.process.state(), QProcess::Running) << "dbus-daemon did not start";
}

void runEventsFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

// What the notification server tells of a notification: the user chose an action, or it was
// closed.
void tellOfNotification(const char* signal, uint id, const QVariant& detail) {
    QDBusMessage message = QDBusMessage::createSignal("/org/freedesktop/Notifications",
                                                      "org.freedesktop.Notifications", signal);
    message << id << detail;
    ASSERT_TRUE(QDBusConnection::sessionBus().send(message));
}

void writeScript(const QString& path, const QByteArray& body) {
    test::writeFile(path, "#!/bin/sh\n" + body);
    QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
}

TEST(LinuxWorkspace, LaunchesDesktopEntriesAndPrograms) {
    QTemporaryDir dir;
    const QString entryMarker = dir.filePath("from-entry");
    const QString programMarker = dir.filePath("from-program");
    test::writeFile(dir.filePath("marker.desktop"),
                    "[Desktop Entry]\nType=Application\nName=Marker\nExec=sh -c \"echo started > " +
                        entryMarker.toUtf8() + "\"\n");
    writeScript(dir.filePath("program"), "echo started > " + programMarker.toUtf8() + "\n");

    LinuxWorkspace workspace;
    EXPECT_TRUE(workspace.launchApplication(dir.filePath("marker.desktop")));
    EXPECT_TRUE(workspace.launchApplication(dir.filePath("program")));
    EXPECT_TRUE(test::waitUntil([&] { return QFile::exists(entryMarker); }, timeoutMs));
    EXPECT_TRUE(test::waitUntil([&] { return QFile::exists(programMarker); }, timeoutMs));

    EXPECT_FALSE(workspace.launchApplication(dir.filePath("missing.desktop")));
    EXPECT_FALSE(workspace.launchApplication(dir.filePath("missing")));
}

TEST(LinuxWorkspace, RevealsThroughTheFileManagerServiceElseOpensTheFolder) {
    QTemporaryDir dir;
    usePrivateSessionBus();
    // xdg-open stands in for the desktop's folder opener: it notes what it was asked.
    const QString opened = dir.filePath("opened");
    writeScript(dir.filePath("xdg-open"), "echo \"$1\" > " + opened.toUtf8() + "\n");
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", dir.path().toUtf8() + ":" + path);

    QDBusConnection session = QDBusConnection::sessionBus();
    ASSERT_TRUE(session.isConnected());
    FakeFileManager fileManager;
    ASSERT_TRUE(session.registerObject("/org/freedesktop/FileManager1", &fileManager,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(session.registerService("org.freedesktop.FileManager1"));

    LinuxWorkspace workspace;
    const QString file = dir.filePath("Record 1.m4a");
    workspace.revealFile(file);
    EXPECT_TRUE(test::waitWithEvents([&] { return !fileManager.shown.isEmpty(); }, timeoutMs));
    EXPECT_EQ(fileManager.shown, QStringList{QUrl::fromLocalFile(file).toString()});
    EXPECT_FALSE(QFile::exists(opened));

    // No file manager on the bus: the folder opens instead.
    session.unregisterService("org.freedesktop.FileManager1");
    workspace.revealFile(file);
    EXPECT_TRUE(test::waitWithEvents([&] { return QFile::exists(opened); }, timeoutMs));
    EXPECT_EQ(test::readFile(opened).trimmed(), dir.path().toUtf8());

    qputenv("PATH", path);
}

TEST(LinuxWorkspace, ANotificationsActionRunsOnlyWhenTheUserChoosesItBeforeItCloses) {
    usePrivateSessionBus();
    QDBusConnection session = QDBusConnection::sessionBus();
    FakeNotificationServer server;
    ASSERT_TRUE(session.registerObject("/org/freedesktop/Notifications", &server,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(session.registerService("org.freedesktop.Notifications"));

    LinuxWorkspace workspace;
    int recorded = 0;
    int closedOnes = 0;
    EXPECT_TRUE(workspace.notifyUser("Saved", "The call is in the records."));
    EXPECT_TRUE(workspace.notifyUserWithAction("Call detected", "Call detected in Zoom.", "Record",
                                               [&] { ++recorded; }));
    EXPECT_TRUE(workspace.notifyUserWithAction("Call detected", "Call detected in Skype.", "Record",
                                               [&] { ++closedOnes; }));
    ASSERT_TRUE(test::waitWithEvents([&] { return server.shown.size() == 3; }, timeoutMs));
    // By body: the server here shares the test's connection, which keeps no order among them.
    std::map<QString, QStringList> actions;
    for (const auto& shown : server.shown) {
        actions[shown.body] = shown.actions;
    }
    EXPECT_TRUE(actions["The call is in the records."].isEmpty());
    const QStringList zoom = actions["Call detected in Zoom."];
    const QStringList skype = actions["Call detected in Skype."];
    ASSERT_EQ(zoom.size(), 2);
    ASSERT_EQ(skype.size(), 2);
    EXPECT_EQ(zoom[1], "Record");
    const auto number = [&](const QString& body) {
        for (std::size_t i = 0; i < server.shown.size(); ++i) {
            if (server.shown[i].body == body) {
                return uint(i + 1);
            }
        }
        return 0u;
    };
    runEventsFor(100); // the numbers the server gave come back

    // Another program's action, and an action after the close, do nothing.
    const uint zoomNumber = number("Call detected in Zoom.");
    const uint skypeNumber = number("Call detected in Skype.");
    tellOfNotification("ActionInvoked", zoomNumber, "default");
    tellOfNotification("NotificationClosed", skypeNumber, 2u);
    tellOfNotification("ActionInvoked", skypeNumber, skype[0]);
    tellOfNotification("ActionInvoked", zoomNumber, zoom[0]);
    tellOfNotification("ActionInvoked", zoomNumber, zoom[0]);
    EXPECT_TRUE(test::waitWithEvents([&] { return recorded > 0; }, timeoutMs));
    runEventsFor(200);
    EXPECT_EQ(recorded, 1) << "once";
    EXPECT_EQ(closedOnes, 0);
    session.unregisterService("org.freedesktop.Notifications");
    session.unregisterObject("/org/freedesktop/Notifications");
}

} // namespace
} // namespace orvo

#include "LinuxWorkspaceTest.moc"
