#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include <QDateTime>
#include <QString>

#include "platform/Media.h"

namespace orvo {

// Takes the far side's echo out of the "You" track of saved recordings, one after another, in
// the background: a file is written again beside itself and takes its place once done, when
// its record and the file are still as they were. The mixed track stays what the user heard.
// Main thread; each file is written on a worker thread.
class EchoRemoval {
public:
    EchoRemoval();
    // Stops the file being written and drops it; the recording keeps its track as recorded.
    ~EchoRemoval();
    EchoRemoval(const EchoRemoval&) = delete;
    EchoRemoval& operator=(const EchoRemoval&) = delete;

    // A recording just saved, by its file name: queued when it has both sides, the user wants
    // the echo out, the call was not heard on headphones and the file was not cleaned before.
    void add(const QString& fileName);
    bool isIdle() const { return !running_ && pending_.empty(); }

    // Main thread, after each file queued: whether it took the cleaned one's place.
    std::function<void(const QString& fileName, bool replaced)> finished;

    // Where a recording's cleaned copy is written: hidden, beside it.
    static QString partPathOf(const QString& path);

private:
    struct Job {
        QString fileName;
        QString path;
        int nearStream = -1;
        int farStream = -1;
        qint64 size = 0;
        QDateTime modified;
    };

    static std::optional<Job> jobFor(const QString& fileName);
    static void removeLeftovers();
    void startNext();
    void jobDone(const Job& job, const EchoFreeCopy& copy);
    bool stillAsItWas(const Job& job) const;

    std::deque<QString> pending_;
    std::thread worker_;
    std::atomic<bool> cancelled_{false};
    bool running_ = false;
    // Expires with this object, so that a late outcome finds nothing to continue.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace orvo
