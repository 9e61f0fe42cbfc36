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
#include <pulse/thread-mainloop.h>

namespace orvo {

// One connection to a PulseAudio (or PipeWire-pulse) server. Its main loop is driven either
// by a thread of its own (Drive::ownThread: a connection kept between requests reads what the
// server says at once, also between requests) or by its owner (Drive::byOwner: a record
// stream read on the owner's thread, no thread in between).
// The order of the library calls that matters, written down once:
//   connect: a loop, a context on it, (start the loop's thread,) connect without autospawn
//     under the loop's lock, wait until ready;
//   every request: started and waited for under the loop's lock, cancelled when unanswered,
//     so its callback never sees freed data;
//   streams made on context() go before the session, or before it connects again;
//   destroy: disconnect under the lock, (stop the loop's thread,) unref the context, free
//     the loop.
// Not thread-safe: the owner serialises the calls, from any thread.
class PulseSession {
public:
    using Timeout = std::chrono::milliseconds;
    enum class Drive { ownThread, byOwner };

    PulseSession() = default;
    ~PulseSession();
    PulseSession(const PulseSession&) = delete;
    PulseSession& operator=(const PulseSession&) = delete;
    PulseSession(PulseSession&&) = delete;
    PulseSession& operator=(PulseSession&&) = delete;

    // Blocks at most timeout until connected; the error when not. Drops an earlier connection
    // first. server: an address as libpulse understands it; absent means the user's server.
    // timeout also bounds each later request.
    std::optional<QString> connect(const char* clientName, const std::optional<QByteArray>& server,
                                   Timeout timeout, Drive drive);

    // Drive::byOwner only. Runs the loop until done() holds or timeout has passed.
    bool runUntil(const std::function<bool()>& done, Timeout timeout);
    // Drive::byOwner only. Handles all that has arrived, without waiting.
    void drain();

    // Sends the one request that start makes (nullptr when it could not) and waits until it
    // has been answered. False when it could not be sent, the connection broke or the
    // timeout passed (then also for every later request, at once).
    bool request(const std::function<pa_operation*(pa_context*)>& start);
    // Drive::ownThread: runs start under the loop's lock, then waits there until done() holds
    // or the timeout passes; whether done() holds. What start makes on context() (a stream)
    // calls wake() from its callbacks.
    bool startAndWait(const std::function<void()>& start, const std::function<bool()>& done);
    // From a callback on the loop's thread: startAndWait looks at done() again.
    void wake() const;
    // False once the connection has broken or a request has timed out: connect anew.
    bool usable();
    // True once a request has waited for its whole timeout.
    bool timedOut() const { return timedOut_; }
    pa_context* context() const { return context_.get(); }

private:
    // Holds the threaded loop's lock, when there is one.
    class Lock;

    void disconnect();
    // With the lock held: waits until done() or the timeout passes; whether done().
    bool waitLocked(const std::function<bool()>& done, Timeout timeout);
    void iterateFor(std::chrono::microseconds timeout);
    bool broken() const;

    struct ThreadedLoopFree {
        void operator()(pa_threaded_mainloop* loop) const { pa_threaded_mainloop_free(loop); }
    };
    struct PlainLoopFree {
        void operator()(pa_mainloop* loop) const { pa_mainloop_free(loop); }
    };
    struct ContextUnref {
        void operator()(pa_context* context) const { pa_context_unref(context); }
    };

    // Exactly one of the two loops while connected. disconnect(), also on destruction,
    // releases them in the order the library needs.
    std::unique_ptr<pa_threaded_mainloop, ThreadedLoopFree> threaded_;
    std::unique_ptr<pa_mainloop, PlainLoopFree> plain_;
    std::unique_ptr<pa_context, ContextUnref> context_;
    Timeout timeout_{0};
    bool expired_ = false;  // guarded by the loop's lock
    bool timedOut_ = false; // guarded by the owner's serialisation
};

} // namespace orvo
