#include "support/PipeWireVideoSource.h"

#include <chrono>
#include <cstring>

#include <QByteArray>
#include <QtGlobal>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace orvo::test {

PipeWireVideoSource::PipeWireVideoSource(int width, int height) : width_(width), height_(height) {
    pw_init(nullptr, nullptr);
    loop_ = pw_thread_loop_new("test-source", nullptr);
    pw_thread_loop_start(loop_);
    pw_thread_loop_lock(loop_);
    context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
    core_ = pw_context_connect(context_, nullptr, 0);
    stream_ = pw_stream_new(
        core_, "test-screen",
        pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_MEDIA_TYPE, "Video", nullptr));
    events_.version = PW_VERSION_STREAM_EVENTS;
    events_.param_changed = [](void* self, std::uint32_t id, const spa_pod* param) {
        if (id == SPA_PARAM_Format && param != nullptr) {
            static_cast<PipeWireVideoSource*>(self)->announceBuffers();
        }
    };
    events_.process = [](void* self) { static_cast<PipeWireVideoSource*>(self)->fill(); };
    pw_stream_add_listener(stream_, &hook_, &events_, this);
    std::uint8_t buffer[512];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const spa_rectangle size = SPA_RECTANGLE(std::uint32_t(width), std::uint32_t(height));
    const spa_fraction frameRate = SPA_FRACTION(rate, 1);
    const spa_pod* params[] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_Id(SPA_VIDEO_FORMAT_BGRx), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&frameRate)))};
    pw_stream_connect(stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                      pw_stream_flags(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS), params,
                      1);
    pw_thread_loop_unlock(loop_);
    ticker_ = std::thread([this] {
        while (!stopping_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1000 / rate));
            if (running_) {
                pw_thread_loop_lock(loop_);
                pw_stream_trigger_process(stream_);
                pw_thread_loop_unlock(loop_);
            }
        }
    });
}

PipeWireVideoSource::~PipeWireVideoSource() {
    stopping_ = true;
    ticker_.join();
    pw_thread_loop_stop(loop_);
    pw_stream_destroy(stream_);
    pw_core_disconnect(core_);
    pw_context_destroy(context_);
    pw_thread_loop_destroy(loop_);
}

std::uint32_t PipeWireVideoSource::node() {
    for (int i = 0; i < 200; ++i) {
        pw_thread_loop_lock(loop_);
        const std::uint32_t id = pw_stream_get_node_id(stream_);
        pw_thread_loop_unlock(loop_);
        if (id != SPA_ID_INVALID) {
            return id;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return SPA_ID_INVALID;
}

void PipeWireVideoSource::announceBuffers() {
    const int bytes = width_ * height_ * 4;
    std::uint8_t buffer[256];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const spa_pod* params[] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
        SPA_PARAM_BUFFERS_size, SPA_POD_Int(bytes), SPA_PARAM_BUFFERS_stride,
        SPA_POD_Int(width_ * 4), SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))))};
    pw_stream_update_params(stream_, params, 1);
}

void PipeWireVideoSource::fill() {
    pw_buffer* buffer = pw_stream_dequeue_buffer(stream_);
    if (buffer == nullptr) {
        return;
    }
    spa_data& data = buffer->buffer->datas[0];
    const auto bytes = std::uint32_t(width_ * height_ * 4);
    if (data.data != nullptr && data.maxsize >= bytes) {
        std::memset(data.data, grey_, bytes);
        data.chunk->offset = 0;
        data.chunk->stride = width_ * 4;
        data.chunk->size = bytes;
    }
    pw_stream_queue_buffer(stream_, buffer);
}

int pipeWireRemote() {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = qgetenv("XDG_RUNTIME_DIR") + "/pipewire-0";
    std::strncpy(address.sun_path, path.constData(), sizeof(address.sun_path) - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace orvo::test
