#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include <QByteArray>
#include <pulse/context.h>
#include <pulse/operation.h>
#include <pulse/thread-mainloop.h>

namespace orvo {

// One connection to a PulseAudio (or PipeWire-pulse) server, driven by a threaded main loop
// of its own. The order of the library calls that matters, written down once:
//   create: loop, context, start the loop's thread, connect under the loop's lock;
//   every request: started and waited for under the loop's lock, cancelled on timeout;
//   destroy: disconnect under the lock, stop the loop's thread, unref the context, free the loop.
// Not thread-safe by itself: the owner serialises the calls.
class PulseSession {
public:
    using Timeout = std::chrono::milliseconds;

    // nullptr when no server answers within timeout. server: a server address as libpulse
    // understands it; absent means the user's usual server.
    static std::unique_ptr<PulseSession> connect(const std::optional<QByteArray>& server,
                                                 Timeout timeout);
    ~PulseSession();
    PulseSession(const PulseSession&) = delete;
    PulseSession& operator=(const PulseSession&) = delete;
    PulseSession(PulseSession&&) = delete;
    PulseSession& operator=(PulseSession&&) = delete;

    // Calls start with the loop's lock held; start sends one request and returns its
    // operation (nullptr when it could not be sent). Waits until the request has been
    // answered. False when it could not be sent, the connection broke or the timeout passed
    // (then also for every later request, at once).
    bool request(const std::function<pa_operation*(pa_context*)>& start);

    // False once the connection has broken or a request has timed out: make a new session.
    bool usable() const;
    // True once a request has waited for its whole timeout.
    bool timedOut() const { return timedOut_; }

private:
    struct Key {
        explicit Key() = default;
    };

public:
    // Use connect().
    PulseSession(Key, pa_threaded_mainloop* loop, pa_context* context, Timeout timeout);

private:
    // With the loop's lock held: waits until done() or the timeout passes. True if done().
    bool waitLocked(const std::function<bool()>& done);

    pa_threaded_mainloop* loop_;
    pa_context* context_;
    Timeout timeout_;
    bool expired_ = false;  // guarded by the loop's lock
    bool timedOut_ = false; // guarded by the owner's serialisation
};

} // namespace orvo
