#pragma once

#include <chrono>

#include <QObject>
#include <QString>

class QLocalServer;

namespace orvo {

// One copy of the program per user: the first holds a lock (flock) in the runtime folder and
// listens on a local socket beside it; a later copy asks it to show its window and leaves,
// having touched nothing. The kernel drops the lock with its holder, also after a crash.
// Main thread only.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Claim { first, another };

    // folder: where the lock and the socket live (the user's runtime folder).
    explicit SingleInstance(QString folder, QObject* parent = nullptr);
    ~SingleInstance() override;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Blocks at most timeout. first: this copy holds the lock and listens. another: a running
    // copy took the request to show its window, or held the lock without answering in time
    // (one that is ending, or starting itself); either way this copy must leave.
    Claim claim(std::chrono::milliseconds timeout = std::chrono::milliseconds(1000));

    // The user's runtime folder ($XDG_RUNTIME_DIR, else Qt's stand-in for it).
    static QString runtimeFolder();

signals:
    // Another copy was started: the user wants to see this one.
    void showRequested();

private:
    bool tryLock();
    bool listen();
    // Whether the copy that holds the lock took the request, within timeout.
    bool handOver(std::chrono::milliseconds timeout) const;
    void answer();

    const QString lockPath_;
    const QString socketPath_;
    int lockFd_ = -1;
    QLocalServer* server_ = nullptr;
};

} // namespace orvo
