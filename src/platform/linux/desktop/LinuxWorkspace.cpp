#include "platform/linux/desktop/LinuxWorkspace.h"
#include "platform/linux/desktop/WaylandDisplays.h"

#include <set>

#include <QBuffer>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
// gio names a structure field "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <gio/gdesktopappinfo.h>
#pragma pop_macro("signals")

#include "platform/linux/desktop/XcbSession.h"

namespace orvo {
namespace {

constexpr const char* appSuffix = ".app";
// The size asked of a theme icon that is only scalable.
constexpr int scalableIconSize = 256;

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};

std::optional<QString> executableOf(std::uint32_t pid) {
    const QString target = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
    if (target.isEmpty()) {
        return std::nullopt;
    }
    return target;
}

QImage themeIcon(const QString& name) {
    // The icon theme belongs to the GUI application object; without one only files load.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        return {};
    }
    const QIcon icon = QIcon::fromTheme(name);
    if (icon.isNull()) {
        return {};
    }
    QSize best;
    for (const QSize& size : icon.availableSizes()) {
        if (size.width() * size.height() > best.width() * best.height()) {
            best = size;
        }
    }
    if (!best.isValid()) {
        best = QSize(scalableIconSize, scalableIconSize);
    }
    return icon.pixmap(best).toImage();
}

// The legacy place of icons outside any theme: <data dir>/pixmaps.
QImage pixmapsIcon(const QString& name) {
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty()) {
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    }
    for (const QString& dir : dataDirs.split(':', Qt::SkipEmptyParts)) {
        for (const char* extension : {".png", ".svg", ".xpm"}) {
            const QImage image(dir + "/pixmaps/" + name + extension);
            if (!image.isNull()) {
                return image;
            }
        }
    }
    return {};
}

QString applicationKeyOf(const RunningApplication& application) {
    if (application.bundlePath) {
        return *application.bundlePath;
    }
    if (application.processIdentifier) {
        return QString::number(*application.processIdentifier);
    }
    return application.localizedName.value_or(QString());
}

} // namespace

LinuxWorkspace::LinuxWorkspace() : entries_(DesktopEntries::searchFolders()) {
    // A Wayland desktop tells no program which window is in front, and its X server would tell
    // only of the X programs: the call's sound streams name the messenger there.
    if (WaylandDisplays::isWaylandSession()) {
        return;
    }
    watch_ = XcbSession::open();
    if (!watch_) {
        return;
    }
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(watch_->connection(), watch_->root(), XCB_CW_EVENT_MASK, &mask);
    xcb_flush(watch_->connection());
    notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(watch_->connection()),
                                                  QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { readEvents(); });
}

LinuxWorkspace::~LinuxWorkspace() = default;

void LinuxWorkspace::readEvents() {
    xcb_connection_t* c = watch_->connection();
    const xcb_atom_t activeAtom = watch_->ewmh()._NET_ACTIVE_WINDOW;
    // Replies awaited while handling a change may pull further events into xcb's queue,
    // where the socket no longer announces them: drain until the queue stays empty.
    for (;;) {
        bool changed = false;
        while (xcb_generic_event_t* raw = xcb_poll_for_event(c)) {
            XcbReply<xcb_generic_event_t> event(raw);
            if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
                const auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(raw);
                changed =
                    changed || (notify->window == watch_->root() && notify->atom == activeAtom);
            }
        }
        if (watch_->hasError()) {
            // The X server went away: nothing more will come.
            notifier_->setEnabled(false);
            return;
        }
        if (!changed) {
            return;
        }
        activeWindowChanged();
    }
}

void LinuxWorkspace::activeWindowChanged() {
    const auto window = watch_->activeWindow();
    if (!window) {
        return;
    }
    const RunningApplication application = applicationOfWindow(*watch_, *window);
    const QString key = applicationKeyOf(application);
    if (frontApplicationKey_ == key) {
        return;
    }
    frontApplicationKey_ = key;
    notificationCenter_.post(didActivateApplicationNotification, this,
                             {{applicationKey, QVariant::fromValue(application)}});
}

RunningApplication LinuxWorkspace::applicationOfWindow(XcbSession& session, xcb_window_t window) {
    RunningApplication application;
    WindowOwner owner;
    if (const auto pid = session.windowPid(window)) {
        application.processIdentifier = *pid;
        owner.executablePath = executableOf(*pid);
    }
    const auto windowClass = session.windowClass(window);
    if (windowClass) {
        owner.instance = windowClass->instance;
        owner.className = windowClass->className;
    }
    const auto entry = entries_.find(owner);
    if (entry) {
        application.bundlePath = entry->path;
        application.localizedName = entry->name;
    }
    if (!application.localizedName && windowClass && !windowClass->className.isEmpty()) {
        application.localizedName = windowClass->className;
    }
    return application;
}

QStringList LinuxWorkspace::applicationFolders() {
    return DesktopEntries::machineFolders();
}

std::optional<std::vector<ApplicationItem>>
LinuxWorkspace::applicationItems(const QString& folder) {
    const QDir dir(folder);
    if (!dir.exists() || !dir.isReadable()) {
        return std::nullopt;
    }
    std::vector<ApplicationItem> items;
    for (const QFileInfo& file :
         dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name)) {
        ApplicationItem item{file.filePath(), std::nullopt};
        if (file.isFile() && file.suffix() == "desktop") {
            if (const auto entry = DesktopEntries::read(file.filePath()); entry && entry->name) {
                item.name = *entry->name + appSuffix;
            }
        }
        items.push_back(std::move(item));
    }
    return items;
}

std::optional<QByteArray> LinuxWorkspace::iconForFile(const QString& path) {
    const auto entry = DesktopEntries::read(path);
    if (!entry || entry->icon.isEmpty()) {
        return std::nullopt;
    }
    QImage image;
    if (QFileInfo(entry->icon).isAbsolute()) {
        image = QImage(entry->icon);
    } else if (image = themeIcon(entry->icon); image.isNull()) {
        image = pixmapsIcon(entry->icon);
    }
    QByteArray png;
    QBuffer buffer(&png);
    if (image.isNull() || !buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) {
        return std::nullopt;
    }
    return png;
}

bool LinuxWorkspace::launchApplication(const QString& path) {
    if (path.endsWith(".desktop")) {
        std::unique_ptr<GDesktopAppInfo, GObjectUnref> info(
            g_desktop_app_info_new_from_filename(QFile::encodeName(path).constData()));
        if (!info) {
            return false;
        }
        GError* rawError = nullptr;
        const bool started =
            g_app_info_launch(G_APP_INFO(info.get()), nullptr, nullptr, &rawError) != FALSE;
        std::unique_ptr<GError, GErrorFree> error(rawError);
        return started;
    }
    return QFileInfo(path).isExecutable() && QProcess::startDetached(path, {});
}

bool LinuxWorkspace::composeMail(const QString& subject, const QString& attachmentPath) {
    // An argument vector: neither text passes through a shell.
    return QProcess::startDetached(
        QStringLiteral("xdg-email"),
        {QStringLiteral("--subject"), subject, QStringLiteral("--attach"), attachmentPath});
}

bool LinuxWorkspace::composeMailTo(const QStringList& recipients, const QString& subject,
                                   const QString& body) {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("xdg-email"));
    if (program.isEmpty()) {
        return false;
    }
    return QProcess::startDetached(
        program, QStringList{QStringLiteral("--subject"), subject, QStringLiteral("--body"), body} +
                     recipients);
}

void LinuxWorkspace::revealFile(const QString& path) {
    const QString folder = QFileInfo(path).absolutePath();
    const auto openFolder = [folder] {
        QProcess::startDetached(QStringLiteral("xdg-open"), {folder});
    };
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString()}
         << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), &callContext_);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [openFolder](QDBusPendingCallWatcher* finished) {
                         if (finished->isError()) {
                             openFolder();
                         }
                         finished->deleteLater();
                     });
}

bool LinuxWorkspace::notifyUser(const QString& title, const QString& body) {
    return notifications_.notify(title, body);
}

bool LinuxWorkspace::notifyUserWithAction(const QString& title, const QString& body,
                                          const QString& actionLabel,
                                          std::function<void()> chosen) {
    return notifications_.notify(title, body, actionLabel, std::move(chosen));
}

std::vector<RunningApplication> LinuxWorkspace::runningApplications() {
    std::vector<RunningApplication> applications;
    auto session = XcbSession::open();
    if (!session) {
        return applications;
    }
    std::set<QString> seen;
    for (xcb_window_t window : session->clientWindows()) {
        RunningApplication application = applicationOfWindow(*session, window);
        if (seen.insert(applicationKeyOf(application)).second) {
            applications.push_back(std::move(application));
        }
    }
    return applications;
}

} // namespace orvo
