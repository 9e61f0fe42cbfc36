#include "platform/linux/desktop/LinuxWorkspace.h"

#include <QCoreApplication>
#include <QDBusConnection>
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

namespace {

constexpr int timeoutMs = 5000;

void writeScript(const QString& path, const QByteArray& body) {
    test::writeFile(path, "#!/bin/sh\n" + body);
    QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
}

// Runs the event loop while waiting, for replies that arrive through it.
bool waitWithEvents(const std::function<bool()>& condition) {
    return test::waitUntil(
        [&] {
            QCoreApplication::processEvents();
            return condition();
        },
        timeoutMs);
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
    // A private session bus, so that no real file manager answers.
    QProcess bus;
    bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    ASSERT_TRUE(bus.waitForReadyRead(timeoutMs)) << "dbus-daemon did not start";
    const QByteArray address = bus.readLine().trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
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
    EXPECT_TRUE(waitWithEvents([&] { return !fileManager.shown.isEmpty(); }));
    EXPECT_EQ(fileManager.shown, QStringList{QUrl::fromLocalFile(file).toString()});
    EXPECT_FALSE(QFile::exists(opened));

    // No file manager on the bus: the folder opens instead.
    session.unregisterService("org.freedesktop.FileManager1");
    workspace.revealFile(file);
    EXPECT_TRUE(waitWithEvents([&] { return QFile::exists(opened); }));
    EXPECT_EQ(test::readFile(opened).trimmed(), dir.path().toUtf8());

    qputenv("PATH", path);
    bus.terminate();
    bus.waitForFinished();
}

} // namespace
} // namespace orvo

#include "LinuxWorkspaceTest.moc"
