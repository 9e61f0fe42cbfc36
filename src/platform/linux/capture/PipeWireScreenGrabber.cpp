#include "platform/linux/capture/PipeWireScreenGrabber.h"

#include <algorithm>
#include <cstring>

#include <unistd.h>

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace orvo {
namespace {

// Formats the H.264 writer converts from; what screens send in shared memory.
AVPixelFormat pixelFormatOf(spa_video_format format) {
    switch (format) {
    case SPA_VIDEO_FORMAT_BGRx:
        return AV_PIX_FMT_BGR0;
    case SPA_VIDEO_FORMAT_RGBx:
        return AV_PIX_FMT_RGB0;
    case SPA_VIDEO_FORMAT_BGRA:
        return AV_PIX_FMT_BGRA;
    case SPA_VIDEO_FORMAT_RGBA:
        return AV_PIX_FMT_RGBA;
    default:
        return AV_PIX_FMT_NONE;
    }
}

// Raw video in memory the CPU reads: without a modifier, the stream offers no DMA-BUF.
const spa_pod* formatsWanted(spa_pod_builder& builder, int frameRate) {
    const spa_rectangle defaultSize = SPA_RECTANGLE(1280, 720);
    const spa_rectangle smallest = SPA_RECTANGLE(1, 1);
    const spa_rectangle largest = SPA_RECTANGLE(16384, 16384);
    const spa_fraction defaultRate = SPA_FRACTION(std::uint32_t(frameRate), 1);
    const spa_fraction slowest = SPA_FRACTION(0, 1);
    const spa_fraction fastest = SPA_FRACTION(1000, 1);
    return static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                               SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defaultSize, &smallest, &largest),
        SPA_FORMAT_VIDEO_framerate,
        SPA_POD_CHOICE_RANGE_Fraction(&defaultRate, &slowest, &fastest)));
}

const spa_pod* buffersWanted(spa_pod_builder& builder) {
    return static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
}

} // namespace

struct PipeWireScreenGrabber::Listener {
    spa_hook hook{};
    pw_stream_events events{};
};

void PipeWireScreenGrabber::LoopDeleter::operator()(pw_thread_loop* loop) const {
    pw_thread_loop_destroy(loop);
}
void PipeWireScreenGrabber::ContextDeleter::operator()(pw_context* context) const {
    pw_context_destroy(context);
}
void PipeWireScreenGrabber::CoreDeleter::operator()(pw_core* core) const {
    pw_core_disconnect(core);
}
void PipeWireScreenGrabber::StreamDeleter::operator()(pw_stream* stream) const {
    pw_stream_destroy(stream);
}

PipeWireScreenGrabber::PipeWireScreenGrabber() {
    pw_init(nullptr, nullptr);
}

PipeWireScreenGrabber::~PipeWireScreenGrabber() {
    // The loop's thread calls into this object: it stops before anything goes.
    if (loop_) {
        pw_thread_loop_stop(loop_.get());
    }
    if (listener_ != nullptr && stream_ != nullptr) {
        spa_hook_remove(&listener_->hook);
    }
    stream_.reset();
    core_.reset();
    context_.reset();
    loop_.reset();
}

std::optional<QString> PipeWireScreenGrabber::open(int remote, quint32 node, int frameRate) {
    period_ = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(1.0 / std::max(1, frameRate)));
    loop_.reset(pw_thread_loop_new("orvo-screen", nullptr));
    if (!loop_) {
        ::close(remote);
        return QStringLiteral("cannot make PipeWire's loop");
    }
    context_.reset(pw_context_new(pw_thread_loop_get_loop(loop_.get()), nullptr, 0));
    if (!context_ || pw_thread_loop_start(loop_.get()) < 0) {
        ::close(remote);
        return QStringLiteral("cannot start PipeWire's loop");
    }
    pw_thread_loop_lock(loop_.get());
    core_.reset(pw_context_connect_fd(context_.get(), remote, nullptr, 0));
    std::optional<QString> error;
    if (!core_) {
        error = QStringLiteral("cannot connect to the screen's PipeWire remote");
    } else {
        stream_.reset(
            pw_stream_new(core_.get(), "orvo-screen",
                          pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                            "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr)));
    }
    if (!error && !stream_) {
        error = QStringLiteral("cannot make the screen's stream");
    }
    if (!error) {
        listener_ = std::make_unique<Listener>();
        listener_->events.version = PW_VERSION_STREAM_EVENTS;
        listener_->events.state_changed = [](void* self, pw_stream_state old, pw_stream_state state,
                                             const char* message) {
            onStateChanged(self, old, state, message);
        };
        listener_->events.param_changed = &PipeWireScreenGrabber::onParamChanged;
        listener_->events.process = &PipeWireScreenGrabber::onProcess;
        pw_stream_add_listener(stream_.get(), &listener_->hook, &listener_->events, this);
        std::uint8_t buffer[1024];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
        const spa_pod* params[] = {formatsWanted(builder, frameRate)};
        const int result = pw_stream_connect(
            stream_.get(), PW_DIRECTION_INPUT, node,
            pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
        if (result < 0) {
            error = QStringLiteral("cannot connect to the screen's stream: %1")
                        .arg(QString::fromUtf8(std::strerror(-result)));
        }
    }
    pw_thread_loop_unlock(loop_.get());
    due_ = std::chrono::steady_clock::now();
    return error;
}

void PipeWireScreenGrabber::onStateChanged(void* self, int, int state, const char* error) {
    if (state == PW_STREAM_STATE_ERROR) {
        static_cast<PipeWireScreenGrabber*>(self)->fail(
            QStringLiteral("the screen's stream failed: %1")
                .arg(QString::fromUtf8(error != nullptr ? error : "")));
    } else if (state == PW_STREAM_STATE_UNCONNECTED) {
        static_cast<PipeWireScreenGrabber*>(self)->fail(
            QStringLiteral("the screen's stream ended"));
    }
}

void PipeWireScreenGrabber::onParamChanged(void* self, std::uint32_t id, const spa_pod* param) {
    auto* grabber = static_cast<PipeWireScreenGrabber*>(self);
    if (param == nullptr || id != SPA_PARAM_Format) {
        return;
    }
    spa_video_info_raw raw{};
    if (spa_format_video_raw_parse(param, &raw) < 0) {
        grabber->fail(QStringLiteral("the screen's stream has a format that cannot be read"));
        return;
    }
    {
        std::lock_guard lock(grabber->mutex_);
        grabber->pixelFormat_ = pixelFormatOf(raw.format);
        grabber->size_ = QSize(int(raw.size.width), int(raw.size.height));
    }
    std::uint8_t buffer[256];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const spa_pod* params[] = {buffersWanted(builder)};
    pw_stream_update_params(grabber->stream_.get(), params, 1);
}

void PipeWireScreenGrabber::onProcess(void* self) {
    static_cast<PipeWireScreenGrabber*>(self)->takeBuffer();
}

void PipeWireScreenGrabber::takeBuffer() {
    pw_buffer* buffer = pw_stream_dequeue_buffer(stream_.get());
    if (buffer == nullptr) {
        return;
    }
    const spa_data& data = buffer->buffer->datas[0];
    std::unique_lock lock(mutex_);
    const int width = size_.width();
    const int height = size_.height();
    const bool readable = data.data != nullptr && data.chunk != nullptr && data.chunk->size > 0 &&
                          pixelFormat_ != AV_PIX_FMT_NONE && width > 0 && height > 0;
    const int stride = readable ? std::max(int(data.chunk->stride), width * 4) : 0;
    if (readable && std::uint64_t(data.chunk->offset) + std::uint64_t(stride) * height <=
                        std::uint64_t(data.maxsize)) {
        ffmpeg::Frame frame = ffmpeg::makeFrame();
        frame->format = pixelFormat_;
        frame->width = width;
        frame->height = height;
        if (frame && av_frame_get_buffer(frame.get(), 0) >= 0) {
            const auto* from = static_cast<const std::uint8_t*>(data.data) + data.chunk->offset;
            for (int row = 0; row < height; ++row) {
                std::memcpy(frame->data[0] + std::ptrdiff_t(row) * frame->linesize[0],
                            from + std::ptrdiff_t(row) * stride, std::size_t(width) * 4);
            }
            latest_ = std::move(frame);
        }
    }
    lock.unlock();
    // Handed back at once: the compositor has few buffers to draw into.
    pw_stream_queue_buffer(stream_.get(), buffer);
    changed_.notify_all();
}

void PipeWireScreenGrabber::fail(const QString& error) {
    {
        std::lock_guard lock(mutex_);
        if (!error_) {
            error_ = error;
        }
    }
    changed_.notify_all();
}

ffmpeg::Frame PipeWireScreenGrabber::grab(QString* error) {
    std::unique_lock lock(mutex_);
    const auto firstFrameBy = std::chrono::steady_clock::now() + firstFrameTimeout;
    changed_.wait_until(lock, firstFrameBy, [&] { return latest_ != nullptr || error_; });
    if (!error_ && latest_ == nullptr) {
        error_ = QStringLiteral("the screen's stream sends no picture");
    }
    if (!error_) {
        // The next frame is due a period after this one was due; one taken late does not make
        // the next come early.
        changed_.wait_until(lock, due_, [&] { return error_.has_value(); });
        due_ = std::max(due_, std::chrono::steady_clock::now()) + period_;
    }
    if (error_) {
        *error = *error_;
        return nullptr;
    }
    return ffmpeg::Frame(av_frame_clone(latest_.get()));
}

QSize PipeWireScreenGrabber::size() const {
    std::lock_guard lock(mutex_);
    return latest_ != nullptr ? size_ : QSize();
}

} // namespace orvo
