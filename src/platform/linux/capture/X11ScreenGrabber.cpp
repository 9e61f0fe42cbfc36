#include "platform/linux/capture/X11ScreenGrabber.h"

#include <mutex>

extern "C" {
#include <libavdevice/avdevice.h>
}

namespace orvo {

std::optional<QString> X11ScreenGrabber::open(const QString& displayName, QRect area,
                                              int frameRate) {
    static std::once_flag devicesRegistered;
    std::call_once(devicesRegistered, [] { avdevice_register_all(); });
    const AVInputFormat* format = av_find_input_format("x11grab");
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
