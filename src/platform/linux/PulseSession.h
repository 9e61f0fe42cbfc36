#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include <QByteArray>
#include <QString>
#include <pulse/context.h>
#include <pulse/mainloop.h>
#include <pulse/operation.h>

namespace orvo {

struct PulseLoopDeleter {
    void operator()(pa_mainloop* loop) const { pa_mainloop_free(loop); }
};
struct PulseContextDeleter {
    void operator()(pa_context* context) const {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
};
using PulseLoop = std::unique_ptr<pa_mainloop, PulseLoopDeleter>;
using PulseContext = std::unique_ptr<pa_context, PulseContextDeleter>;

// One connection to a PulseAudio (or PipeWire-pulse) server on a main loop that its owner
// drives: the library's callbacks run inside connect, iterate and request, on the caller's
// thread. The order of the library calls that matters, written down once:
//   connect: a new loop, a context on it, connect without autospawn, iterate until ready;
//   streams made on context() go before the session, or before it connects again;
//   a request that got no answer is cancelled, so its callback never sees freed data;
//   destroy: disconnect and unref the context, then free its loop.
// Not thread-safe apart from wakeup(): the owner serialises the calls, from any thread.
class PulseSession {
public:
    using Timeout = std::chrono::milliseconds;

    PulseSession() = default;
    PulseSession(const PulseSession&) = delete;
    PulseSession& operator=(const PulseSession&) = delete;
    PulseSession(PulseSession&&) = delete;
    PulseSession& operator=(PulseSession&&) = delete;

    // Blocks at most timeout until connected; the error when not. Drops an earlier connection
    // first. server: an address as libpulse understands it; absent means the user's server.
    // timeout also bounds each later request.
    std::optional<QString> connect(const char* clientName, const std::optional<QByteArray>& server,
                                   Timeout timeout);
    // Runs the loop for at most timeout; returns early once something happened or wakeup().
    void iterate(Timeout timeout);
    // Runs the loop until done() holds or timeout has passed; whether done() holds.
    bool runUntil(const std::function<bool()>& done, Timeout timeout);
    // Any thread, while connected: ends an iterate early.
    void wakeup();

    // Sends the one request that start makes (nullptr when it could not) and runs the loop
    // until it has been answered. False when it could not be sent, the connection broke or
    // the timeout passed (then also for every later request, at once).
    bool request(const std::function<pa_operation*(pa_context*)>& start);
    // Takes in what the server said meanwhile. False once the connection has broken or a
    // request has timed out: connect anew.
    bool usable();
    // True once a request has waited for its whole timeout.
    bool timedOut() const { return timedOut_; }
    pa_context* context() const { return context_.get(); }

private:
    void iterateFor(std::chrono::microseconds timeout);
    bool broken() const;

    // The context needs its loop: declared after it, it goes first.
    PulseLoop loop_;
    PulseContext context_;
    Timeout timeout_{0};
    bool timedOut_ = false;
};

} // namespace orvo
