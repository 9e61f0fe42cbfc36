#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include <pipewire/pipewire.h>

namespace orvo::test {

// A video source on the PipeWire of XDG_RUNTIME_DIR, as a screen-cast portal makes one: BGRx
// frames of one grey level that the caller sets, pushed at 30 per second while running.
class PipeWireVideoSource {
public:
    static constexpr int rate = 30;

    PipeWireVideoSource(int width, int height);
    ~PipeWireVideoSource();
    PipeWireVideoSource(const PipeWireVideoSource&) = delete;
    PipeWireVideoSource& operator=(const PipeWireVideoSource&) = delete;

    // The node a consumer connects to; SPA_ID_INVALID when PipeWire gave none within 2 s.
    std::uint32_t node();
    void setGrey(std::uint8_t grey) { grey_ = grey; }
    // A still screen sends no frames.
    void setRunning(bool running) { running_ = running; }

private:
    void announceBuffers();
    void fill();

    const int width_;
    const int height_;
    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    pw_stream* stream_ = nullptr;
    spa_hook hook_{};
    pw_stream_events events_{};
    std::thread ticker_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> running_{true};
    std::atomic<std::uint8_t> grey_{0};
};

// A connection to the PipeWire of XDG_RUNTIME_DIR, as the portal's OpenPipeWireRemote hands
// one over; -1 when it cannot be had.
int pipeWireRemote();

} // namespace orvo::test
