#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include "platform/NotificationCenter.h"
#include "platform/Port.h"

namespace orvo {

// An application with windows on the desktop.
struct RunningApplication {
    std::optional<std::int64_t> processIdentifier; // absent when the window names none
    std::optional<QString> localizedName;          // in the user's language; absent when unknown
    std::optional<QString> bundlePath;             // the application item, when one is known
};

// One direct entry of an application folder.
struct ApplicationItem {
    QString path;
    std::optional<QString>
        name; // the application's file name ("Telegram.app"); absent if unreadable
};

// The desktop as a whole: which application is in front, which applications are installed,
// launching them and showing files.
class Workspace : public Port {
public:
    // Posted on the main thread when another application comes to the front; the user
    // information holds the RunningApplication under applicationKey.
    static inline const QString didActivateApplicationNotification =
        QStringLiteral("NSWorkspaceDidActivateApplicationNotification");
    static inline const QString applicationKey = QStringLiteral("NSWorkspaceApplicationKey");

    // Any thread. The centre on which the workspace posts its notifications.
    virtual NotificationCenter& notificationCenter() = 0;
    // Any thread. The machine-wide application folders, existing or not.
    virtual QStringList applicationFolders() = 0;
    // Any thread; reads the folder. Absent when the folder cannot be listed.
    virtual std::optional<std::vector<ApplicationItem>> applicationItems(const QString& folder) = 0;
    // Main thread. The icon of the item at path at its best size, encoded as PNG: the layer
    // that shows it makes the image. Absent when the item has none.
    virtual std::optional<QByteArray> iconForFile(const QString& path) = 0;
    // Main thread; returns once the application has been started, without waiting for it.
    // False when it cannot be started.
    virtual bool launchApplication(const QString& path) = 0;
    // Main thread; returns at once. Shows the file selected in the file manager.
    virtual void revealFile(const QString& path) = 0;
    // Main thread; returns at once. Opens the user's mail program on a new message with the
    // subject and the file attached. False when there is no way to do that.
    virtual bool composeMail(const QString& subject, const QString& attachmentPath) = 0;
    // Main thread; returns at once. Opens the user's mail program on a new message to the
    // recipients with the subject and the body. False when there is no mail program to ask.
    virtual bool composeMailTo(const QStringList& recipients, const QString& subject,
                               const QString& body) = 0;
    // Main thread; returns at once. A passing desktop notification with a title and a body;
    // false when the desktop cannot be asked to show one.
    virtual bool notifyUser(const QString& title, const QString& body) = 0;
    // Main thread; returns at once. As notifyUser, with one action the user may choose; chosen
    // runs on the main thread when they do, never where the desktop shows no actions.
    virtual bool notifyUserWithAction(const QString& title, const QString& body,
                                      const QString& actionLabel, std::function<void()> chosen) = 0;
    // Main thread. The applications that have windows on the desktop; empty without a display.
    virtual std::vector<RunningApplication> runningApplications() = 0;
};

} // namespace orvo

Q_DECLARE_METATYPE(orvo::RunningApplication)
