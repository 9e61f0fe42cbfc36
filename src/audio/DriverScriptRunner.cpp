#include "audio/DriverScriptRunner.h"

#include <unistd.h>

#include <QFileInfo>
#include <QProcess>

#include "shell/Bundle.h"
#include "shell/Localization.h"

namespace orvo {

std::optional<QString> DriverScriptRunner::run(const QString& name) {
    const auto path = Bundle::pathForResource(name, QStringLiteral("sh"));
    if (!path) {
        qFatal("The driver script %s.sh is missing from the program's data files",
               qUtf8Printable(name));
    }
    return runScriptAtPath(*path);
}

QStringList DriverScriptRunner::commandFor(const QString& path, bool asRoot) {
    if (asRoot) {
        return {QStringLiteral("/bin/sh"), path};
    }
    return {QStringLiteral("pkexec"), QStringLiteral("/bin/sh"), path};
}

std::optional<QString> DriverScriptRunner::unsafeForRoot(const QString& path) {
    const QFileInfo file(path);
    if (!file.isFile()) {
        return Localization::format(Localization::text("SCRIPT_NOT_A_FILE"), {path});
    }
    if (file.ownerId() != 0) {
        return Localization::format(Localization::text("SCRIPT_NOT_ROOTS"), {path});
    }
    if (file.permissions() & (QFile::WriteGroup | QFile::WriteOther)) {
        return Localization::format(Localization::text("SCRIPT_WRITABLE_BY_OTHERS"), {path});
    }
    return std::nullopt;
}

bool DriverScriptRunner::runsInstalled() {
    return QFileInfo(Bundle::executablePath()).ownerId() == 0;
}

std::optional<QString> DriverScriptRunner::runScriptAtPath(const QString& path) {
    // Root runs the script: a copy that others can edit would give them root.
    if (const auto unsafe = unsafeForRoot(path)) {
        if (runsInstalled()) {
            return Localization::format(Localization::text("SCRIPT_REFUSED_AS_ROOT"), {*unsafe});
        }
        qWarning("Running a script of the build tree with administrator rights: %s",
                 qUtf8Printable(*unsafe));
    }
    const QStringList command = commandFor(path, geteuid() == 0);
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(command.first(), command.mid(1));
    if (!process.waitForStarted(-1)) {
        return command.first() + ": " + process.errorString();
    }
    process.closeWriteChannel();
    process.waitForFinished(-1);
    const QString output = QString::fromLocal8Bit(process.readAll()).trimmed();
    if (process.exitStatus() != QProcess::NormalExit) {
        return output.isEmpty() ? process.errorString() : output;
    }
    if (process.exitCode() != 0) {
        const QString status =
            Localization::format(Localization::text("SCRIPT_EXIT_STATUS"), {process.exitCode()});
        return output.isEmpty() ? status : output + "\n(" + status + ")";
    }
    return std::nullopt;
}

} // namespace orvo
