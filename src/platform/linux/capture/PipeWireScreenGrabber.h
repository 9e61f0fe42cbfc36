#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

#include <QSize>
#include <QString>

#include "platform/linux/media/FFmpegHandles.h"

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_stream;
struct spa_pod;

namespace orvo {

// Frames of a screen that the screen-cast portal streams over PipeWire. Each buffer is copied
// out at once and handed back, in memory the CPU reads (no DMA-BUF). grab paces itself by the
// frame rate and gives the newest frame, again while the screen is still, so that a file keeps
// its constant rate. One thread uses it; PipeWire's own thread fills it.
class PipeWireScreenGrabber {
public:
    PipeWireScreenGrabber();
    ~PipeWireScreenGrabber();
    PipeWireScreenGrabber(const PipeWireScreenGrabber&) = delete;
    PipeWireScreenGrabber& operator=(const PipeWireScreenGrabber&) = delete;

    // remote: the portal's PipeWire connection, which this takes; node: its stream of the
    // screen. The error when the stream cannot be opened.
    std::optional<QString> open(int remote, quint32 node, int frameRate);
    // Blocks until the next frame is due; nullptr and error set when the stream failed, or
    // sent no frame within firstFrameTimeout.
    ffmpeg::Frame grab(QString* error);
    // The stream's picture size once its first frame came; empty before.
    QSize size() const;

    static constexpr std::chrono::seconds firstFrameTimeout{10};

private:
    struct LoopDeleter {
        void operator()(pw_thread_loop* loop) const;
    };
    struct ContextDeleter {
        void operator()(pw_context* context) const;
    };
    struct CoreDeleter {
        void operator()(pw_core* core) const;
    };
    struct StreamDeleter {
        void operator()(pw_stream* stream) const;
    };
    struct Listener;

    static void onStateChanged(void* self, int old, int state, const char* error);
    static void onParamChanged(void* self, std::uint32_t id, const spa_pod* param);
    static void onProcess(void* self);
    void takeBuffer();
    void fail(const QString& error);

    std::unique_ptr<pw_thread_loop, LoopDeleter> loop_;
    std::unique_ptr<pw_context, ContextDeleter> context_;
    std::unique_ptr<pw_core, CoreDeleter> core_;
    std::unique_ptr<pw_stream, StreamDeleter> stream_;
    std::unique_ptr<Listener> listener_;

    mutable std::mutex mutex_; // guards what follows, written on PipeWire's thread
    std::condition_variable changed_;
    ffmpeg::Frame latest_;
    int pixelFormat_ = -1; // AVPixelFormat of the negotiated format
    QSize size_;
    std::optional<QString> error_;

    std::chrono::steady_clock::duration period_{};
    std::chrono::steady_clock::time_point due_{};
};

} // namespace orvo
