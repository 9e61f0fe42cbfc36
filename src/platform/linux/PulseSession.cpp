#include "platform/linux/PulseSession.h"

#include <algorithm>
#include <cstdint>

#include <pulse/error.h>

namespace orvo {
namespace {

using Clock = std::chrono::steady_clock;

struct OperationUnref {
    void operator()(pa_operation* operation) const { pa_operation_unref(operation); }
};
using OperationPtr = std::unique_ptr<pa_operation, OperationUnref>;

std::chrono::microseconds until(Clock::time_point deadline) {
    return std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
}

} // namespace

std::optional<QString> PulseSession::connect(const char* clientName,
                                             const std::optional<QByteArray>& server,
                                             Timeout timeout) {
    context_.reset();
    timeout_ = timeout;
    timedOut_ = false;
    loop_.reset(pa_mainloop_new());
    if (!loop_) {
        return QStringLiteral("cannot create a sound server loop");
    }
    context_.reset(pa_context_new(pa_mainloop_get_api(loop_.get()), clientName));
    // No autospawn: a server that is not running must give a failure at once.
    if (!context_ || pa_context_connect(context_.get(), server ? server->constData() : nullptr,
                                        PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        return QStringLiteral("cannot reach the sound server");
    }
    const auto settled = [this] {
        const pa_context_state_t state = pa_context_get_state(context_.get());
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    };
    if (!runUntil(settled, timeout)) {
        return QStringLiteral("the sound server does not answer");
    }
    if (pa_context_get_state(context_.get()) != PA_CONTEXT_READY) {
        return QStringLiteral("cannot reach the sound server: %1")
            .arg(QString::fromUtf8(pa_strerror(pa_context_errno(context_.get()))));
    }
    return std::nullopt;
}

void PulseSession::iterate(Timeout timeout) {
    iterateFor(timeout);
}

bool PulseSession::runUntil(const std::function<bool()>& done, Timeout timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        const auto left = until(deadline);
        if (left.count() <= 0) {
            return false;
        }
        iterateFor(left);
    }
    return true;
}

void PulseSession::iterateFor(std::chrono::microseconds timeout) {
    if (!loop_ ||
        pa_mainloop_prepare(loop_.get(), int(std::max<std::int64_t>(0, timeout.count()))) < 0) {
        return;
    }
    if (pa_mainloop_poll(loop_.get()) < 0) {
        return;
    }
    pa_mainloop_dispatch(loop_.get());
}

void PulseSession::wakeup() {
    if (loop_) {
        pa_mainloop_wakeup(loop_.get());
    }
}

bool PulseSession::broken() const {
    return !context_ || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_.get()));
}

bool PulseSession::request(const std::function<pa_operation*(pa_context*)>& start) {
    // After one timeout the server is taken for hung: the caller's next requests fail at once.
    if (timedOut_ || broken()) {
        return false;
    }
    OperationPtr operation(start(context_.get()));
    if (!operation) {
        return false;
    }
    const bool finished = runUntil(
        [&] { return pa_operation_get_state(operation.get()) != PA_OPERATION_RUNNING || broken(); },
        timeout_);
    const pa_operation_state_t state = pa_operation_get_state(operation.get());
    if (state == PA_OPERATION_RUNNING) {
        // Drops the callback, whose data lives on the caller's stack.
        pa_operation_cancel(operation.get());
        timedOut_ = !finished;
    }
    return state == PA_OPERATION_DONE;
}

bool PulseSession::usable() {
    if (timedOut_ || broken()) {
        return false;
    }
    iterateFor(std::chrono::microseconds(0));
    return pa_context_get_state(context_.get()) == PA_CONTEXT_READY;
}

} // namespace orvo
