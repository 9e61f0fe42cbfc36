#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QString>

#include <pulse/pulseaudio.h>

namespace orvo {

// Owners of libpulse objects; a stream goes before its context, a context before its loop.
struct PulseLoopDeleter {
    void operator()(pa_mainloop* loop) const { pa_mainloop_free(loop); }
};
struct PulseContextDeleter {
    void operator()(pa_context* context) const {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
};
struct PulseStreamDeleter {
    void operator()(pa_stream* stream) const {
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
    }
};
using PulseLoop = std::unique_ptr<pa_mainloop, PulseLoopDeleter>;
using PulseContext = std::unique_ptr<pa_context, PulseContextDeleter>;
using PulseStream = std::unique_ptr<pa_stream, PulseStreamDeleter>;

// A connection to the sound server on the calling thread, driven by iterate().
class PulseConnection {
public:
    // Blocks until connected or timeout; the error when it could not connect.
    std::optional<QString> connect(const char* clientName, std::chrono::milliseconds timeout);
    // Runs the loop for at most timeout; returns early when something happened or wakeup().
    void iterate(std::chrono::milliseconds timeout);
    // Any thread.
    void wakeup();
    pa_context* context() const { return context_.get(); }
    pa_mainloop* loop() const { return loop_.get(); }

private:
    PulseLoop loop_;
    PulseContext context_;
};

// Whether the server has a source of this name (asks once, blocks at most a second).
bool pulseSourceExists(const QString& sourceName);

// A record stream of float stereo at 48 kHz from one source, read on the owning thread.
class PulseRecordStream {
public:
    static constexpr int sampleRate = 48000;
    static constexpr int channels = 2;

    // A chunk of interleaved frames and when its first frame was captured.
    using ChunkHandler = std::function<void(const float* samples, std::int64_t frames,
                                            std::chrono::steady_clock::time_point captured)>;

    // Blocks until the stream records or fails; the error when it fails. May be called again
    // after a failure: the stream then records anew, on a new connection.
    std::optional<QString> open(const QString& sourceName);
    // Waits at most timeout for audio and hands every chunk that arrived to handler.
    void read(std::chrono::milliseconds timeout, const ChunkHandler& handler);
    // Any thread: ends a read early.
    void wakeup() { connection_.wakeup(); }
    // The error once the stream has broken.
    std::optional<QString> failure() const;

private:
    // How long ago the oldest frame now waiting to be read was captured.
    std::chrono::microseconds ageOfOldestFrame();
    void askForTiming();

    PulseConnection connection_;
    PulseStream stream_;
    std::vector<float> batch_; // what one read hands out
    std::optional<std::chrono::steady_clock::time_point> lastTimingRequest_;
};

} // namespace orvo
