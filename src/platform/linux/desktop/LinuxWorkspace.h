#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include <QObject>
#include <QSocketNotifier>

#include "platform/Workspace.h"
#include "platform/linux/desktop/DesktopEntries.h"
#include "platform/linux/desktop/DesktopNotifications.h"

namespace orvo {

class XcbSession;

// The workspace of an X11 desktop. A window manager announces the front window in the root
// window's _NET_ACTIVE_WINDOW; the application behind it is found through the window's
// process, WM_CLASS and the desktop entries. Installed applications are desktop entries,
// named by their Name followed by ".app". Without an X display it reports nothing.
class LinuxWorkspace final : public Workspace {
public:
    // Main thread: the watch of the front window delivers on the thread that creates it.
    LinuxWorkspace();
    ~LinuxWorkspace() override;

    NotificationCenter& notificationCenter() override { return notificationCenter_; }
    QStringList applicationFolders() override;
    std::optional<std::vector<ApplicationItem>> applicationItems(const QString& folder) override;
    std::optional<QByteArray> iconForFile(const QString& path) override;
    bool launchApplication(const QString& path) override;
    void revealFile(const QString& path) override;
    bool composeMail(const QString& subject, const QString& attachmentPath) override;
    // xdg-email, when installed.
    bool composeMailTo(const QStringList& recipients, const QString& subject,
                       const QString& body) override;
    // org.freedesktop.Notifications over the session bus.
    bool notifyUser(const QString& title, const QString& body) override;
    bool notifyUserWithAction(const QString& title, const QString& body, const QString& actionLabel,
                              std::function<void()> chosen) override;
    std::vector<RunningApplication> runningApplications() override;

private:
    void readEvents();
    void activeWindowChanged();
    // window: an X window id (xcb_window_t, kept out of this header).
    RunningApplication applicationOfWindow(XcbSession& session, std::uint32_t window);

    QObject callContext_; // parent of pending D-Bus calls
    DesktopNotifications notifications_;
    NotificationCenter notificationCenter_;
    std::unique_ptr<XcbSession> watch_; // the connection that listens to the root window
    std::unique_ptr<QSocketNotifier> notifier_;
    DesktopEntries entries_;
    // The application last announced, so that a change of window within it stays silent.
    std::optional<QString> frontApplicationKey_;
};

} // namespace orvo
