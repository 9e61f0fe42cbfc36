#include "app/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include "shell/Console.h"

namespace orvo {
namespace {

constexpr char request[] = "show\n";
constexpr char accepted[] = "ok";
constexpr std::chrono::milliseconds handOverTry{300};
constexpr unsigned long pauseBetweenTriesMs = 50;

} // namespace

SingleInstance::SingleInstance(QString folder, QObject* parent)
    : QObject(parent), lockPath_(QDir(folder).filePath("orvo-call-recorder.lock")),
      socketPath_(QDir(folder).filePath("orvo-call-recorder.socket")) {}

SingleInstance::~SingleInstance() {
    if (lockFd_ >= 0) {
        ::close(lockFd_);
    }
}

QString SingleInstance::runtimeFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

SingleInstance::Claim SingleInstance::claim(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (tryLock()) {
            if (!listen()) {
                consoleLine("Cannot listen for later copies at " + socketPath_);
            }
            return Claim::first;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left <= std::chrono::milliseconds(0)) {
            consoleLine("Another copy holds " + lockPath_ + " and did not answer: leaving");
            return Claim::another;
        }
        // A copy that is ending still holds the lock but no longer answers: it goes soon.
        if (handOver(std::min(left, handOverTry))) {
            consoleLine("Another copy is running: it shows its window");
            return Claim::another;
        }
        QThread::msleep(pauseBetweenTriesMs);
    }
}

bool SingleInstance::tryLock() {
    if (lockFd_ < 0) {
        lockFd_ =
            ::open(QFile::encodeName(lockPath_).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    }
    return lockFd_ >= 0 && ::flock(lockFd_, LOCK_EX | LOCK_NB) == 0;
}

bool SingleInstance::listen() {
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // We hold the lock: a socket file still there is a crashed copy's.
    QLocalServer::removeServer(socketPath_);
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::answer);
    return server_->listen(socketPath_);
}

void SingleInstance::answer() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                return;
            }
            if (socket->readLine() == request) {
                socket->write(accepted);
                socket->write("\n");
                emit showRequested();
            }
            socket->disconnectFromServer();
        });
    }
}

bool SingleInstance::handOver(std::chrono::milliseconds timeout) const {
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    const int ms = int(timeout.count());
    if (!socket.waitForConnected(ms)) {
        return false;
    }
    socket.write(request);
    if (!socket.waitForBytesWritten(ms)) {
        return false;
    }
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(ms)) {
            return false;
        }
    }
    return socket.readLine().trimmed() == accepted;
}

} // namespace orvo
