#include "app/TerminationSignals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace orvo {
namespace {

constexpr std::array watchedSignals{SIGTERM, SIGINT, SIGHUP};

// A signal handler can reach nothing but globals: the write end of the one instance's pipe.
std::atomic<int> signalPipeWriteEnd{-1};

void onSignal(int signalNumber) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    const int fd = signalPipeWriteEnd.load();
    if (fd >= 0) {
        [[maybe_unused]] const auto written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

sigset_t watchedSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int signalNumber : watchedSignals) {
        sigaddset(&set, signalNumber);
    }
    return set;
}

void setHandler(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : watchedSignals) {
        sigaction(signalNumber, &action, nullptr);
    }
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (::pipe2(pipe_.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
        pipe_ = {-1, -1};
        return;
    }
    signalPipeWriteEnd.store(pipe_[1]);
    notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::readPipe);
    setHandler(&onSignal);
    // What came while held back is handled now.
    const sigset_t set = watchedSet();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void TerminationSignals::holdUntilWatched() {
    const sigset_t set = watchedSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

TerminationSignals::~TerminationSignals() {
    if (pipe_[0] < 0) {
        return;
    }
    setHandler(SIG_DFL);
    signalPipeWriteEnd.store(-1);
    delete notifier_;
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

void TerminationSignals::readPipe() {
    unsigned char byte = 0;
    while (::read(pipe_[0], &byte, 1) == 1) {
        emit received(int(byte));
    }
}

} // namespace orvo
