#include "audio/DriverScriptRunner.h"

#include <unistd.h>

#include <QProcess>

#include "shell/Bundle.h"

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

std::optional<QString> DriverScriptRunner::runScriptAtPath(const QString& path) {
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
        const QString status = QStringLiteral("exit status %1").arg(process.exitCode());
        return output.isEmpty() ? status : output + "\n(" + status + ")";
    }
    return std::nullopt;
}

} // namespace orvo
