#include "platform/linux/capture/AudioLimiter.h"

#include <algorithm>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
}

namespace orvo {

namespace {
constexpr int sampleRate = 48000;
constexpr int channels = 2;

QString failure(int code) {
    return QStringLiteral("cannot limit the mix: %1").arg(ffmpeg::errorText(code));
}
} // namespace

std::optional<QString> AudioLimiter::open(double ceiling) {
    graph_.reset(avfilter_graph_alloc());
    if (!graph_) {
        return QStringLiteral("cannot limit the mix: no memory");
    }
    const QByteArray description =
        QStringLiteral("abuffer=sample_rate=%1:sample_fmt=flt:channel_layout=stereo:"
                       "time_base=1/%1,alimiter=limit=%2:level=0:latency=1,"
                       "aformat=sample_fmts=flt:channel_layouts=stereo,abuffersink")
            .arg(sampleRate)
            .arg(ceiling)
            .toUtf8();
    AVFilterInOut* inputs = nullptr;
    AVFilterInOut* outputs = nullptr;
    int result = avfilter_graph_parse2(graph_.get(), description.constData(), &inputs, &outputs);
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    if (result >= 0) {
        result = avfilter_graph_config(graph_.get(), nullptr);
    }
    if (result < 0) {
        return failure(result);
    }
    for (unsigned i = 0; i < graph_->nb_filters; ++i) {
        AVFilterContext* filter = graph_->filters[i];
        if (filter->filter == avfilter_get_by_name("abuffer")) {
            source_ = filter;
        } else if (filter->filter == avfilter_get_by_name("abuffersink")) {
            sink_ = filter;
        }
    }
    if (source_ == nullptr || sink_ == nullptr || !frame_) {
        return QStringLiteral("cannot limit the mix: no memory");
    }
    return std::nullopt;
}

std::optional<QString> AudioLimiter::process(const float* interleaved, std::int64_t frames,
                                             std::vector<float>& out) {
    if (frames <= 0) {
        return std::nullopt;
    }
    ffmpeg::Frame frame = ffmpeg::makeFrame();
    if (!frame) {
        return QStringLiteral("cannot limit the mix: no memory");
    }
    frame->format = AV_SAMPLE_FMT_FLT;
    frame->sample_rate = sampleRate;
    frame->nb_samples = int(frames);
    frame->pts = pushed_;
    av_channel_layout_default(&frame->ch_layout, channels);
    int result = av_frame_get_buffer(frame.get(), 0);
    if (result < 0) {
        return failure(result);
    }
    std::copy_n(interleaved, frames * channels, reinterpret_cast<float*>(frame->data[0]));
    pushed_ += frames;
    result = av_buffersrc_add_frame(source_, frame.get());
    if (result < 0) {
        return failure(result);
    }
    return drain(out);
}

std::optional<QString> AudioLimiter::flush(std::vector<float>& out) {
    const int result = av_buffersrc_add_frame(source_, nullptr);
    if (result < 0) {
        return failure(result);
    }
    return drain(out);
}

std::optional<QString> AudioLimiter::drain(std::vector<float>& out) {
    while (true) {
        const int result = av_buffersink_get_frame(sink_, frame_.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
            return std::nullopt;
        }
        if (result < 0) {
            return failure(result);
        }
        const auto* samples = reinterpret_cast<const float*>(frame_->data[0]);
        out.insert(out.end(), samples, samples + std::int64_t(frame_->nb_samples) * channels);
        av_frame_unref(frame_.get());
    }
}

} // namespace orvo
