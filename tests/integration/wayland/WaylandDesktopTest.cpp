// The whole program on a Wayland desktop (the private headless sway of scripts/test): a native
// Wayland client that shows its records window, offers its tray icon to the desktop's
// StatusNotifierItem host, and records the screen that the desktop's dialog chooses.
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDir>
#include <QGuiApplication>
#include <QMutex>
#include <QProcess>
#include <QThread>

#include "integration/app/LaunchedProgram.h"
#include "platform/linux/desktop/WaylandDisplays.h"

namespace orvo {

// What a desktop's panel offers tray icons through: the items that register with it.
class StatusNotifierWatcher : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

public:
    explicit StatusNotifierWatcher(QObject* parent) : QDBusAbstractAdaptor(parent) {}
    bool isHostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const {
        QMutexLocker lock(&mutex_);
        return items_;
    }

public slots:
    void RegisterStatusNotifierItem(const QString& service) {
        QMutexLocker lock(&mutex_);
        items_ << service;
    }
    void RegisterStatusNotifierHost(const QString&) {}

private:
    mutable QMutex mutex_;
    QStringList items_;
};

namespace {

// The watcher on a bus connection and a thread of its own: the program asks it while its own
// thread waits for the answer.
class PanelHost {
public:
    PanelHost() {
        thread_.start();
        owner_.moveToThread(&thread_);
        QMetaObject::invokeMethod(
            &owner_,
            [this] {
                auto bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "panel");
                watcher_ = new StatusNotifierWatcher(&owner_);
                registered_ = bus.registerObject("/StatusNotifierWatcher", &owner_) &&
                              bus.registerService("org.kde.StatusNotifierWatcher");
            },
            Qt::BlockingQueuedConnection);
    }
    ~PanelHost() {
        QMetaObject::invokeMethod(
            &owner_,
            [] {
                QDBusConnection("panel").unregisterService("org.kde.StatusNotifierWatcher");
                QDBusConnection::disconnectFromBus("panel");
            },
            Qt::BlockingQueuedConnection);
        thread_.quit();
        thread_.wait();
    }
    bool registered() const { return registered_; }
    QStringList items() const { return watcher_->items(); }

private:
    QThread thread_;
    QObject owner_;
    StatusNotifierWatcher* watcher_ = nullptr; // owned by owner_
    bool registered_ = false;
};

class WaylandDesktop : public test::LaunchedProgram {};

TEST_F(WaylandDesktop, TheProgramIsANativeClientWithItsWindowItsTrayIconAndTheDesktopsScreen) {
    ASSERT_EQ(QGuiApplication::platformName(), "wayland");
    PanelHost panel;
    ASSERT_TRUE(panel.registered());
    ASSERT_TRUE(launch());
    MainWindowController* window = shownWindow();
    ASSERT_NE(window, nullptr);

    // The icon is offered to the panel.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !panel.items().isEmpty(); }, 10000));
    // The one screen to record is the one the desktop's dialog will ask for.
    EXPECT_NE(dynamic_cast<WaylandDisplays*>(&Platform::shared().get<Displays>()), nullptr);
    EXPECT_NE(test::actionTitled(*tray().menu(), "Start recording Screen…"), nullptr);

    // As the user sees it, taken with the compositor's own tool.
    QTest::qWait(500);
    const QString folder = ORVO_SCREENSHOT_DIR;
    QDir().mkpath(folder);
    QProcess grim;
    grim.start("grim", {folder + "/wayland-records-window.png"});
    EXPECT_TRUE(grim.waitForFinished(10000) && grim.exitCode() == 0)
        << grim.readAllStandardError().toStdString();
}

} // namespace
} // namespace orvo

#include "WaylandDesktopTest.moc"
