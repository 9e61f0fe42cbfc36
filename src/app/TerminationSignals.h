#pragma once

#include <array>

#include <QObject>

class QSocketNotifier;

namespace orvo {

// Turns SIGTERM, SIGINT and SIGHUP (a kill, Ctrl+C, the end of the session) into a signal of
// the main thread, so that the program can close its recording and give the sound output
// back before it ends. The handler only writes the number into a pipe; the main loop reads
// it. One instance at a time; main thread only. Destroying it restores the default handlers.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // False when the pipe could not be made; the signals then keep their default action.
    bool isWatching() const { return notifier_ != nullptr; }

    // First thing of the process, before any thread: holds the signals back until an instance
    // watches them, which lets them through. Nothing ends the program the default way while it
    // starts up; threads started meanwhile never take them.
    static void holdUntilWatched();

signals:
    void received(int signalNumber);

private:
    void readPipe();

    std::array<int, 2> pipe_{-1, -1};
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace orvo
