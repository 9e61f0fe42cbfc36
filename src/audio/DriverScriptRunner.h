#pragma once

#include <optional>

#include <QString>
#include <QStringList>

namespace orvo {

// Runs the driver's install and uninstall scripts shipped with the program, with
// administrator rights: through pkexec, which asks the user, or directly when the program
// already runs as root.
class DriverScriptRunner {
public:
    DriverScriptRunner() = delete;

    // Main thread; blocks until the script has ended, password prompt included.
    // name: "install_driver" or "uninstall_driver". A script missing from the program's data
    // files is a broken installation and stops the program. Absent on success, otherwise
    // the error text.
    static std::optional<QString> run(const QString& name);

    // Same, for a script at any path. The path travels as one argument, never through a
    // shell, so quotes and spaces in it are harmless.
    static std::optional<QString> runScriptAtPath(const QString& path);

    // The program and its arguments that run the script.
    static QStringList commandFor(const QString& path, bool asRoot);

    // Why the file at path must not run as root: it is missing, or someone other than root
    // could have changed it. Absent when it is safe.
    static std::optional<QString> unsafeForRoot(const QString& path);

    // Whether the running program is an installation (its executable belongs to root) rather
    // than a developer's build tree, whose scripts are the developer's own files.
    static bool runsInstalled();
};

} // namespace orvo
