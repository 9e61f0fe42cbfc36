#include "platform/linux/capture/X11ScreenGrabber.h"

#include <dlfcn.h>

extern "C" {
#include <libavdevice/version.h>
#include <libavformat/avformat.h>
#include <libavutil/macros.h>
}

namespace orvo {
namespace {

// FFmpeg's devices library brings some fifty libraries of its own (SDL, OpenAL, JACK and more)
// that every start would map: it is loaded when a screen is first grabbed. It stays loaded, as
// the devices it registers live in it.
bool registerDevices() {
    static const bool registered = [] {
        void* library = dlopen("libavdevice.so." AV_STRINGIFY(LIBAVDEVICE_VERSION_MAJOR),
                               RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            return false;
        }
        const auto registerAll =
            reinterpret_cast<void (*)()>(dlsym(library, "avdevice_register_all"));
        if (registerAll == nullptr) {
            return false;
        }
        registerAll();
        return true;
    }();
    return registered;
}

} // namespace

std::optional<QString> X11ScreenGrabber::open(const QString& displayName, QRect area,
                                              int frameRate) {
    const AVInputFormat* format = registerDevices() ? av_find_input_format("x11grab") : nullptr;
    if (format == nullptr) {
        return QStringLiteral("this FFmpeg cannot grab an X display");
    }
    AVDictionary* options = nullptr;
    av_dict_set(&options, "framerate", QByteArray::number(frameRate).constData(), 0);
    av_dict_set(&options, "video_size",
                QStringLiteral("%1x%2").arg(area.width()).arg(area.height()).toUtf8().constData(),
                0);
    av_dict_set(&options, "draw_mouse", "1", 0);
    const QByteArray url =
        QStringLiteral("%1+%2,%3").arg(displayName).arg(area.x()).arg(area.y()).toUtf8();
    AVFormatContext* raw = nullptr;
    int result = avformat_open_input(&raw, url.constData(), format, &options);
    av_dict_free(&options);
    if (result < 0) {
        return QStringLiteral("cannot grab display %1: %2")
            .arg(displayName, ffmpeg::errorText(result));
    }
    input_.reset(raw);
    if (input_->nb_streams != 1) {
        return QStringLiteral("the display grab has no video");
    }
    QString error;
    decoder_ = ffmpeg::openDecoder(input_->streams[0], &error);
    if (!decoder_) {
        return error;
    }
    return std::nullopt;
}

ffmpeg::Frame X11ScreenGrabber::grab(QString* error) {
    ffmpeg::Packet packet = ffmpeg::makePacket();
    int result = av_read_frame(input_.get(), packet.get());
    if (result >= 0) {
        result = avcodec_send_packet(decoder_.get(), packet.get());
    }
    ffmpeg::Frame frame = ffmpeg::makeFrame();
    if (result >= 0) {
        result = avcodec_receive_frame(decoder_.get(), frame.get());
    }
    if (result < 0) {
        *error = QStringLiteral("cannot grab the screen: %1").arg(ffmpeg::errorText(result));
        return nullptr;
    }
    return frame;
}

} // namespace orvo
