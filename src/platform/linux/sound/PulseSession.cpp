#include "platform/linux/sound/PulseSession.h"

#include <algorithm>
#include <cstdint>

#include <pulse/error.h>
#include <pulse/rtclock.h>
#include <pulse/timeval.h>

namespace orvo {
namespace {

using Clock = std::chrono::steady_clock;

struct OperationUnref {
    void operator()(pa_operation* operation) const { pa_operation_unref(operation); }
};
using OperationPtr = std::unique_ptr<pa_operation, OperationUnref>;

void signalLoop(pa_threaded_mainloop* loop) {
    if (loop != nullptr) {
        pa_threaded_mainloop_signal(loop, 0);
    }
}

} // namespace

class PulseSession::Lock {
public:
    explicit Lock(pa_threaded_mainloop* loop) : loop_(loop) {
        if (loop_ != nullptr) {
            pa_threaded_mainloop_lock(loop_);
        }
    }
    ~Lock() {
        if (loop_ != nullptr) {
            pa_threaded_mainloop_unlock(loop_);
        }
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    Lock(Lock&&) = delete;
    Lock& operator=(Lock&&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

PulseSession::~PulseSession() {
    disconnect();
}

void PulseSession::disconnect() {
    if (context_) {
        Lock lock(threaded_.get());
        pa_context_set_state_callback(context_.get(), nullptr, nullptr);
        pa_context_disconnect(context_.get());
    }
    // The loop's thread stops before the context goes: it may still be dispatching for it.
    if (threaded_) {
        pa_threaded_mainloop_stop(threaded_.get());
    }
    context_.reset();
    threaded_.reset();
    plain_.reset();
}

std::optional<QString> PulseSession::connect(const char* clientName,
                                             const std::optional<QByteArray>& server,
                                             Timeout timeout, Drive drive) {
    disconnect();
    timeout_ = timeout;
    timedOut_ = false;
    pa_mainloop_api* api = nullptr;
    if (drive == Drive::ownThread) {
        threaded_.reset(pa_threaded_mainloop_new());
        api = threaded_ ? pa_threaded_mainloop_get_api(threaded_.get()) : nullptr;
    } else {
        plain_.reset(pa_mainloop_new());
        api = plain_ ? pa_mainloop_get_api(plain_.get()) : nullptr;
    }
    if (api == nullptr) {
        return QStringLiteral("cannot create a sound server loop");
    }
    context_.reset(pa_context_new(api, clientName));
    if (!context_) {
        return QStringLiteral("cannot reach the sound server");
    }
    pa_context_set_state_callback(
        context_.get(),
        [](pa_context*, void* loop) { signalLoop(static_cast<pa_threaded_mainloop*>(loop)); },
        threaded_.get());
    if (threaded_ && pa_threaded_mainloop_start(threaded_.get()) < 0) {
        return QStringLiteral("cannot start a sound server loop");
    }
    Lock lock(threaded_.get());
    // No autospawn: a server that is not running must give a failure at once.
    if (pa_context_connect(context_.get(), server ? server->constData() : nullptr,
                           PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        return QStringLiteral("cannot reach the sound server");
    }
    const bool settled = waitLocked(
        [this] {
            const pa_context_state_t state = pa_context_get_state(context_.get());
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        },
        timeout);
    if (!settled) {
        return QStringLiteral("the sound server does not answer");
    }
    if (pa_context_get_state(context_.get()) != PA_CONTEXT_READY) {
        return QStringLiteral("cannot reach the sound server: %1")
            .arg(QString::fromUtf8(pa_strerror(pa_context_errno(context_.get()))));
    }
    return std::nullopt;
}

bool PulseSession::waitLocked(const std::function<bool()>& done, Timeout timeout) {
    if (!threaded_) {
        return runUntil(done, timeout);
    }
    expired_ = false;
    const auto expire = [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
        auto* session = static_cast<PulseSession*>(self);
        session->expired_ = true;
        signalLoop(session->threaded_.get());
    };
    const pa_usec_t deadline =
        pa_rtclock_now() + pa_usec_t(std::chrono::microseconds(timeout).count());
    pa_time_event* timer = pa_context_rttime_new(context_.get(), deadline, expire, this);
    while (!done() && !expired_) {
        pa_threaded_mainloop_wait(threaded_.get());
    }
    if (timer != nullptr) {
        pa_threaded_mainloop_get_api(threaded_.get())->time_free(timer);
    }
    return done();
}

bool PulseSession::runUntil(const std::function<bool()>& done, Timeout timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        iterateFor(left);
    }
    return true;
}

void PulseSession::iterateFor(std::chrono::microseconds timeout) {
    if (!plain_ ||
        pa_mainloop_prepare(plain_.get(), int(std::max<std::int64_t>(0, timeout.count()))) < 0) {
        return;
    }
    if (pa_mainloop_poll(plain_.get()) < 0) {
        return;
    }
    pa_mainloop_dispatch(plain_.get());
}

void PulseSession::drain() {
    // Bounded: a server that never stops talking does not hold the owner here.
    constexpr int mostRounds = 256;
    for (int round = 0; plain_ && round < mostRounds; ++round) {
        if (pa_mainloop_iterate(plain_.get(), 0, nullptr) <= 0) {
            return;
        }
    }
}

bool PulseSession::broken() const {
    return !context_ || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_.get()));
}

bool PulseSession::request(const std::function<pa_operation*(pa_context*)>& start) {
    // After one timeout the server is taken for hung: the caller's next requests fail at once.
    if (timedOut_ || !context_) {
        return false;
    }
    Lock lock(threaded_.get());
    if (broken()) {
        return false;
    }
    OperationPtr operation(start(context_.get()));
    if (!operation) {
        return false;
    }
    pa_operation_set_state_callback(
        operation.get(),
        [](pa_operation*, void* loop) { signalLoop(static_cast<pa_threaded_mainloop*>(loop)); },
        threaded_.get());
    const bool finished = waitLocked(
        [&] { return pa_operation_get_state(operation.get()) != PA_OPERATION_RUNNING || broken(); },
        timeout_);
    const pa_operation_state_t state = pa_operation_get_state(operation.get());
    if (state == PA_OPERATION_RUNNING) {
        // Drops the callback, whose data lives on the caller's stack.
        pa_operation_cancel(operation.get());
        timedOut_ = !finished;
    }
    pa_operation_set_state_callback(operation.get(), nullptr, nullptr);
    return state == PA_OPERATION_DONE;
}

bool PulseSession::startAndWait(const std::function<void()>& start,
                                const std::function<bool()>& done) {
    if (!context_) {
        return false;
    }
    Lock lock(threaded_.get());
    start();
    return waitLocked([&] { return done() || broken(); }, timeout_) && done();
}

void PulseSession::wake() const {
    signalLoop(threaded_.get());
}

bool PulseSession::usable() {
    if (timedOut_ || !context_) {
        return false;
    }
    Lock lock(threaded_.get());
    // An owner-driven loop takes in what the server said meanwhile first.
    iterateFor(std::chrono::microseconds(0));
    return pa_context_get_state(context_.get()) == PA_CONTEXT_READY;
}

} // namespace orvo
