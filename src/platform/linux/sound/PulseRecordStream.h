#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QString>

#include <pulse/pulseaudio.h>

#include "platform/linux/sound/PulseSession.h"

namespace orvo {

// Owner of a stream; it goes before its session.
struct PulseStreamDeleter {
    void operator()(pa_stream* stream) const {
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
    }
};
using PulseStream = std::unique_ptr<pa_stream, PulseStreamDeleter>;

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
    // Without waiting: hands all the audio that has arrived to handler, as one chunk.
    void read(const ChunkHandler& handler);
    // The error once the stream has broken.
    std::optional<QString> failure() const;

private:
    // How long ago the oldest frame now waiting to be read was captured.
    std::chrono::microseconds ageOfOldestFrame();
    void askForTiming();

    PulseSession connection_;
    PulseStream stream_;
    std::vector<float> batch_; // what one read hands out
    std::optional<std::chrono::steady_clock::time_point> lastTimingRequest_;
};

} // namespace orvo
