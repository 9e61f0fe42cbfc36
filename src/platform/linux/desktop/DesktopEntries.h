#pragma once

#include <optional>
#include <vector>

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace orvo {

// What a desktop entry (a freedesktop.org .desktop file) says about the
// application it starts.
struct DesktopEntry {
    QString path;
    QString id;                  // file name without ".desktop"
    std::optional<QString> name; // Name in the user's language
    QString program;             // first word of Exec, unquoted
    QString tryExec;
    QString startupWMClass;
    QString icon;
};

// What a window tells about the application that owns it.
struct WindowOwner {
    std::optional<QString> executablePath; // of its _NET_WM_PID process
    QString instance;                      // WM_CLASS
    QString className;
};

// The desktop entries of a list of application folders, read once and read again when one
// of the folders changes. Not thread-safe: one owner, one thread.
class DesktopEntries {
public:
    explicit DesktopEntries(QStringList folders) : folders_(std::move(folders)) {}

    // The user's own folder, then the machine-wide ones of XDG_DATA_DIRS, then the Flatpak and
    // Snap export folders.
    static QStringList searchFolders();
    // The machine-wide application folders only.
    static QStringList machineFolders();

    // Absent when the file is no readable application entry or is marked Hidden.
    static std::optional<DesktopEntry> read(const QString& path);

    // The entry of the application that owns a window, tried in this order: StartupWMClass
    // equal to the window's class or instance; the Exec or TryExec program equal to the
    // executable; the entry's id (or its last dotted part) equal to the class or instance,
    // ignoring case. Earlier folders win within each rule.
    std::optional<DesktopEntry> find(const WindowOwner& owner);

private:
    void refresh();

    QStringList folders_;
    std::vector<QDateTime> folderTimes_;
    std::vector<DesktopEntry> entries_;
    bool loaded_ = false;
};

} // namespace orvo
