#include "platform/linux/PulseSession.h"

#include <pulse/rtclock.h>
#include <pulse/timeval.h>

namespace orvo {
namespace {

struct OperationUnref {
    void operator()(pa_operation* operation) const { pa_operation_unref(operation); }
};
using OperationPtr = std::unique_ptr<pa_operation, OperationUnref>;

void signalLoop(pa_context*, void* loop) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
}

void signalLoopFromOperation(pa_operation*, void* loop) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
}

bool contextBroken(pa_context* context) {
    return !PA_CONTEXT_IS_GOOD(pa_context_get_state(context));
}

} // namespace

PulseSession::PulseSession(Key, pa_threaded_mainloop* loop, pa_context* context, Timeout timeout)
    : loop_(loop), context_(context), timeout_(timeout) {}

std::unique_ptr<PulseSession> PulseSession::connect(const std::optional<QByteArray>& server,
                                                    Timeout timeout) {
    pa_threaded_mainloop* loop = pa_threaded_mainloop_new();
    if (loop == nullptr) {
        return nullptr;
    }
    pa_context* context =
        pa_context_new(pa_threaded_mainloop_get_api(loop), "ORVO - Call Recorder");
    if (context == nullptr) {
        pa_threaded_mainloop_free(loop);
        return nullptr;
    }
    auto session = std::make_unique<PulseSession>(Key(), loop, context, timeout);
    pa_context_set_state_callback(context, signalLoop, loop);
    if (pa_threaded_mainloop_start(loop) < 0) {
        return nullptr;
    }
    pa_threaded_mainloop_lock(loop);
    bool ready = false;
    // No autospawn: a server that is not running must give a failure at once.
    if (pa_context_connect(context, server ? server->constData() : nullptr, PA_CONTEXT_NOAUTOSPAWN,
                           nullptr) >= 0) {
        ready = session->waitLocked([context] {
            const auto state = pa_context_get_state(context);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        }) && pa_context_get_state(context) == PA_CONTEXT_READY;
    }
    pa_threaded_mainloop_unlock(loop);
    return ready ? std::move(session) : nullptr;
}

PulseSession::~PulseSession() {
    pa_threaded_mainloop_lock(loop_);
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    pa_context_unref(context_);
    pa_threaded_mainloop_free(loop_);
}

bool PulseSession::waitLocked(const std::function<bool()>& done) {
    expired_ = false;
    const auto timerCallback = [](pa_mainloop_api*, pa_time_event*, const struct timeval*,
                                  void* self) {
        auto* session = static_cast<PulseSession*>(self);
        session->expired_ = true;
        pa_threaded_mainloop_signal(session->loop_, 0);
    };
    const pa_usec_t deadline =
        pa_rtclock_now() + pa_usec_t(std::chrono::microseconds(timeout_).count());
    pa_time_event* timer = pa_context_rttime_new(context_, deadline, timerCallback, this);
    while (!done() && !expired_) {
        pa_threaded_mainloop_wait(loop_);
    }
    if (timer != nullptr) {
        pa_threaded_mainloop_get_api(loop_)->time_free(timer);
    }
    return done();
}

bool PulseSession::request(const std::function<pa_operation*(pa_context*)>& start) {
    // After one timeout the server is taken for hung: the caller's next requests fail at once.
    if (timedOut_) {
        return false;
    }
    pa_threaded_mainloop_lock(loop_);
    bool answered = false;
    if (!contextBroken(context_)) {
        OperationPtr operation(start(context_));
        if (operation) {
            pa_operation_set_state_callback(operation.get(), signalLoopFromOperation, loop_);
            const bool finished = waitLocked([&] {
                return pa_operation_get_state(operation.get()) != PA_OPERATION_RUNNING ||
                       contextBroken(context_);
            });
            answered = pa_operation_get_state(operation.get()) == PA_OPERATION_DONE;
            if (!answered) {
                // Drops the callback, whose data lives on the caller's stack.
                pa_operation_cancel(operation.get());
                timedOut_ = timedOut_ || !finished;
            }
            pa_operation_set_state_callback(operation.get(), nullptr, nullptr);
        }
    }
    pa_threaded_mainloop_unlock(loop_);
    return answered;
}

bool PulseSession::usable() const {
    if (timedOut_) {
        return false;
    }
    pa_threaded_mainloop_lock(loop_);
    const bool good = pa_context_get_state(context_) == PA_CONTEXT_READY;
    pa_threaded_mainloop_unlock(loop_);
    return good;
}

} // namespace orvo
