#include "platform/linux/FFmpegMedia.h"

#include "platform/linux/FFmpegExportSession.h"
#include "platform/linux/FFmpegHandles.h"

namespace orvo {

FFmpegMedia::FFmpegMedia() {
    ffmpeg::quietLogging();
}

MediaAsset FFmpegMedia::loadAsset(const QString& path) {
    MediaAsset asset;
    asset.path = path;
    QString error;
    const ffmpeg::InputContext input = ffmpeg::openInput(path, &error);
    if (!input) {
        return asset;
    }
    if (input->duration != AV_NOPTS_VALUE && input->duration > 0) {
        asset.durationSeconds = double(input->duration) / AV_TIME_BASE;
    }
    std::optional<std::int64_t> captureStart;
    if (const AVDictionaryEntry* entry =
            av_dict_get(input->metadata, ffmpeg::captureStartKey, nullptr, 0)) {
        bool ok = false;
        const qint64 value = QByteArray(entry->value).toLongLong(&ok);
        if (ok) {
            captureStart = value;
        }
    }
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* stream = input->streams[i];
        MediaAssetTrack track;
        switch (stream->codecpar->codec_type) {
        case AVMEDIA_TYPE_AUDIO:
            track.mediaType = MediaType::audio;
            break;
        case AVMEDIA_TYPE_VIDEO:
            if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) {
                continue;
            }
            track.mediaType = MediaType::video;
            break;
        default:
            continue;
        }
        track.sourcePath = path;
        track.streamIndex = int(i);
        track.durationSeconds = asset.durationSeconds;
        if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
            track.durationSeconds = double(stream->duration) * av_q2d(stream->time_base);
        }
        track.captureStartMicroseconds = captureStart;
        for (const char* key : {"title", "handler_name"}) {
            const AVDictionaryEntry* entry = av_dict_get(stream->metadata, key, nullptr, 0);
            if (entry != nullptr && track.title.isEmpty()) {
                track.title = QString::fromUtf8(entry->value);
            }
        }
        asset.tracks.push_back(track);
    }
    return asset;
}

std::unique_ptr<ExportSession> FFmpegMedia::makeExportSession(const MediaComposition& composition,
                                                              const QString& presetName) {
    if (presetName == exportPresetAppleM4A) {
        return std::make_unique<FFmpegExportSession>(composition, FFmpegExportSession::Kind::mix);
    }
    if (presetName == exportPresetPassthrough) {
        return std::make_unique<FFmpegExportSession>(composition,
                                                     FFmpegExportSession::Kind::passthrough);
    }
    return nullptr;
}

} // namespace orvo
