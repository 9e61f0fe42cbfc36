#include "platform/linux/capture/H264SegmentWriter.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace orvo {

std::optional<QString> H264SegmentWriter::open(const QString& path, const char* formatName,
                                               int width, int height, const CaptureQuality& quality,
                                               std::int64_t startEpochMicroseconds) {
    QString error;
    encoder_ = ffmpeg::openSegment(writer_, path, formatName, "libx264", &error);
    if (!encoder_) {
        return error;
    }
    encoder_->width = width & ~1;
    encoder_->height = height & ~1;
    encoder_->pix_fmt = AV_PIX_FMT_YUV420P;
    encoder_->time_base = AVRational{1, quality.videoFrameRate};
    encoder_->framerate = AVRational{quality.videoFrameRate, 1};
    encoder_->gop_size = quality.videoFrameRate; // a key frame, and so a fragment, every second
    encoder_->keyint_min = quality.videoFrameRate;
    encoder_->max_b_frames = 0;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", "ultrafast", 0);
    av_dict_set(&options, "tune", "zerolatency", 0);
    av_dict_set(&options, "crf", QByteArray::number(quality.videoCrf).constData(), 0);
    if (auto error = ffmpeg::beginSegment(writer_, encoder_.get(), &options, "H.264",
                                          startEpochMicroseconds)) {
        return error;
    }
    converted_ = ffmpeg::makeFrame();
    converted_->format = encoder_->pix_fmt;
    converted_->width = encoder_->width;
    converted_->height = encoder_->height;
    const int result = av_frame_get_buffer(converted_.get(), 0);
    if (result < 0) {
        return QStringLiteral("cannot allocate a picture: %1").arg(ffmpeg::errorText(result));
    }
    return std::nullopt;
}

std::optional<QString> H264SegmentWriter::write(const AVFrame& frame, std::int64_t frameIndex) {
    if (frame.width < encoder_->width || frame.height < encoder_->height) {
        return QStringLiteral("the screen's picture is smaller than the recording");
    }
    // An odd size is cropped, never scaled: the scaler reads only the rows and columns it needs.
    scale_.reset(sws_getCachedContext(scale_.release(), encoder_->width, encoder_->height,
                                      AVPixelFormat(frame.format), encoder_->width,
                                      encoder_->height, encoder_->pix_fmt, SWS_BILINEAR, nullptr,
                                      nullptr, nullptr));
    if (!scale_) {
        return QStringLiteral("cannot convert the screen's pictures");
    }
    int result = av_frame_make_writable(converted_.get());
    if (result < 0) {
        return QStringLiteral("cannot encode: %1").arg(ffmpeg::errorText(result));
    }
    if (sws_scale(scale_.get(), frame.data, frame.linesize, 0, encoder_->height, converted_->data,
                  converted_->linesize) <= 0) {
        return QStringLiteral("cannot convert the screen's pictures");
    }
    converted_->pts = frameIndex;
    return ffmpeg::encodeAndWrite(encoder_.get(), converted_.get(), writer_, 0);
}

std::optional<QString> H264SegmentWriter::finish() {
    if (!writer_.begun()) {
        return std::nullopt;
    }
    auto error = ffmpeg::encodeAndWrite(encoder_.get(), nullptr, writer_, 0);
    const auto closed = writer_.finish();
    return error ? error : closed;
}

} // namespace orvo
