#include "platform/linux/media/FFmpegMedia.h"

#include <algorithm>

#include "platform/linux/media/FFmpegExportSession.h"
#include "platform/linux/media/FFmpegHandles.h"
#include "platform/linux/media/MediaImporter.h"
#include "platform/linux/media/NearSideEchoRemover.h"

namespace orvo {

namespace {

// A file cut off inside its media (a kill, a power cut, a full disk) still indexes the samples
// it lost: the track ends where the first of them begins. Absent when every sample is there.
std::optional<double> heldSeconds(const AVFormatContext* input, AVStream* stream) {
    const std::int64_t fileBytes = input->pb != nullptr ? avio_size(input->pb) : -1;
    const int count = avformat_index_get_entries_count(stream);
    if (fileBytes <= 0 || count <= 0) {
        return std::nullopt;
    }
    const std::int64_t first = avformat_index_get_entry(stream, 0)->timestamp;
    for (int i = 0; i < count; ++i) {
        const AVIndexEntry* entry = avformat_index_get_entry(stream, i);
        if (entry->pos < 0 || entry->pos + entry->size > fileBytes) {
            return double(entry->timestamp - first) * av_q2d(stream->time_base);
        }
    }
    return std::nullopt;
}

} // namespace

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
    if (const AVDictionaryEntry* entry =
            av_dict_get(input->metadata, ffmpeg::userOutputKey, nullptr, 0)) {
        asset.userOutput = outputKindNamed(QString::fromUtf8(entry->value));
    }
    if (const AVDictionaryEntry* entry =
            av_dict_get(input->metadata, ffmpeg::nearSideEchoKey, nullptr, 0)) {
        asset.nearSideEchoRemoved = qstrcmp(entry->value, ffmpeg::echoRemovedValue) == 0;
    }
    bool cut = false;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        AVStream* stream = input->streams[i];
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
        if (const auto held = heldSeconds(input.get(), stream);
            held && *held < track.durationSeconds) {
            track.durationSeconds = *held;
            cut = true;
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
    if (cut) {
        asset.durationSeconds = 0.0;
        for (const MediaAssetTrack& track : asset.tracks) {
            asset.durationSeconds = std::max(asset.durationSeconds, track.durationSeconds);
        }
    }
    return asset;
}

std::unique_ptr<ExportSession> FFmpegMedia::makeExportSession(const MediaComposition& composition,
                                                              const QString& presetName) {
    if (presetName == exportPresetAppleM4A) {
        return std::make_unique<FFmpegExportSession>(composition, FFmpegExportSession::Kind::mix);
    }
    if (presetName == exportPresetMixAndSides) {
        return std::make_unique<FFmpegExportSession>(composition,
                                                     FFmpegExportSession::Kind::mixAndSides);
    }
    if (presetName == exportPresetPassthrough) {
        return std::make_unique<FFmpegExportSession>(composition,
                                                     FFmpegExportSession::Kind::passthrough);
    }
    return nullptr;
}

ImportPlan FFmpegMedia::planImport(const QString& source) {
    return MediaImporter::plan(source);
}

std::optional<QString> FFmpegMedia::importFile(const QString& source, const QString& destination,
                                               const std::atomic<bool>& cancelled) {
    return MediaImporter::import(source, destination, cancelled);
}

EchoFreeCopy FFmpegMedia::writeWithoutEcho(const QString& source, const QString& destination,
                                           int nearStream, int farStream, EchoCanceller& canceller,
                                           const std::atomic<bool>& cancelled) {
    return NearSideEchoRemover::write(source, destination, nearStream, farStream, canceller,
                                      cancelled);
}

} // namespace orvo
