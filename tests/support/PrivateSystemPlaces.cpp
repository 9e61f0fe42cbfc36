#include "support/PrivateSystemPlaces.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <QDir>

namespace orvo::test {
namespace {

QString systemError(const QString& what) {
    return what + ": " + QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

PrivateSystemPlaces::PrivateSystemPlaces() {
    if (geteuid() != 0) {
        error_ = QStringLiteral("needs root for a private mount namespace");
        return;
    }
    if (!scratch_.isValid()) {
        error_ = QStringLiteral("no temporary folder");
        return;
    }
    machineNamespace_ = ::open("/proc/self/ns/mnt", O_RDONLY | O_CLOEXEC);
    if (machineNamespace_ < 0) {
        error_ = systemError("/proc/self/ns/mnt");
        return;
    }
    if (unshare(CLONE_NEWNS) != 0) {
        error_ = systemError("unshare");
        return;
    }
    // Nothing mounted from here on may travel back to the machine's namespace.
    if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        error_ = systemError("private propagation");
        return;
    }
    const QByteArray scratch = QFile::encodeName(scratch_.path());
    if (mount("tmpfs", scratch.constData(), "tmpfs", 0, "mode=0755") != 0) {
        error_ = systemError("tmpfs");
        return;
    }
    for (const QString& place : {QStringLiteral("/etc"), QStringLiteral("/var/lib")}) {
        if (!overlay(place)) {
            return;
        }
    }
}

bool PrivateSystemPlaces::overlay(const QString& place) {
    const QString name = QString(place).replace('/', '_');
    const QString upper = scratch_.path() + "/" + name + "-upper";
    const QString work = scratch_.path() + "/" + name + "-work";
    if (!QDir().mkpath(upper) || !QDir().mkpath(work)) {
        error_ = QStringLiteral("cannot make the overlay's folders for ") + place;
        return false;
    }
    const QByteArray options =
        QFile::encodeName("lowerdir=" + place + ",upperdir=" + upper + ",workdir=" + work);
    if (mount("overlay", QFile::encodeName(place).constData(), "overlay", 0, options.constData()) !=
        0) {
        error_ = systemError("overlay on " + place);
        return false;
    }
    return true;
}

PrivateSystemPlaces::~PrivateSystemPlaces() {
    if (machineNamespace_ < 0) {
        return;
    }
    // Back on the machine's mounts, the scratch folder is an empty folder again and goes.
    if (setns(machineNamespace_, CLONE_NEWNS) != 0) {
        qWarning("cannot return to the machine's mount namespace: %s", std::strerror(errno));
    }
    ::close(machineNamespace_);
}

} // namespace orvo::test
