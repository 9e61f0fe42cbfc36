#include "platform/linux/media/FFmpegExportSession.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include "platform/linux/media/AudioMixer.h"
#include "platform/linux/media/FFmpegMedia.h"
#include "platform/linux/media/PassthroughCopier.h"

namespace orvo {

namespace {

const char* muxerFor(MediaFileType type) {
    switch (type) {
    case MediaFileType::appleM4A:
        return "ipod";
    case MediaFileType::mpeg4:
        return "mp4";
    case MediaFileType::quickTimeMovie:
        return "mov";
    case MediaFileType::unknown:
        break;
    }
    return nullptr;
}

std::vector<AudioMixer::Input> audioInputs(const FFmpegExportSession::Job& job) {
    std::vector<AudioMixer::Input> inputs;
    for (std::size_t i = 0; i < job.segments.size(); ++i) {
        if (job.segments[i].source.mediaType == MediaType::audio) {
            inputs.push_back({job.segments[i], job.alignedStarts[i]});
        }
    }
    return inputs;
}

// The mix is made beside the result first, then copied into it ahead of the tracks it was
// made of: players play the mix, and each track stays apart for whoever wants one side.
std::optional<QString> mixAndSides(const FFmpegExportSession::Job& job, const QString& path,
                                   const char* muxer) {
    // A merge killed before its end left one of the same name: it is of no use any more.
    const QString mixPath = path + ".mix.part";
    QFile::remove(mixPath);
    const auto removeMix = qScopeGuard([&] { QFile::remove(mixPath); });
    if (auto error = AudioMixer::mix(audioInputs(job), mixPath, "ipod", job.cancelled)) {
        return error;
    }
    const auto mixed = FFmpegMedia().loadAsset(mixPath).firstTrack(MediaType::audio);
    if (!mixed) {
        return QStringLiteral("the mix cannot be read back");
    }
    std::vector<PassthroughCopier::Input> inputs{{{*mixed, mixed->timeRange(), 0.0}, 0.0, 0}};
    std::vector<PassthroughCopier::Track> tracks{{QString(), true}};
    for (const PassthroughCopier::Track& track : job.tracks) {
        tracks.push_back({track.title, false});
    }
    for (std::size_t i = 0; i < job.segments.size(); ++i) {
        if (job.segments[i].source.mediaType == MediaType::audio) {
            inputs.push_back({job.segments[i], job.alignedStarts[i], job.trackOfSegment[i] + 1});
        }
    }
    return PassthroughCopier::copy(inputs, tracks, path, muxer, job.cancelled, job.tags);
}

// The export's whole work; the error when it did not complete.
std::optional<QString> exportJob(const FFmpegExportSession::Job& job, MediaFileType fileType,
                                 const QString& path, bool* created) {
    if (path.isEmpty()) {
        return QStringLiteral("no output file");
    }
    const char* muxer = muxerFor(fileType);
    if (muxer == nullptr) {
        return QStringLiteral("no output file type");
    }
    if (job.kind != FFmpegExportSession::Kind::passthrough && fileType != MediaFileType::appleM4A &&
        fileType != MediaFileType::mpeg4) {
        return QStringLiteral("an audio mix is written as M4A or MPEG-4 only");
    }
    if (QFileInfo::exists(path)) {
        return QStringLiteral("%1 already exists").arg(path);
    }
    *created = true;
    if (job.kind == FFmpegExportSession::Kind::mix) {
        return AudioMixer::mix(audioInputs(job), path, muxer, job.cancelled, job.tags);
    }
    if (job.kind == FFmpegExportSession::Kind::mixAndSides) {
        return mixAndSides(job, path, muxer);
    }
    std::vector<PassthroughCopier::Input> inputs;
    for (std::size_t i = 0; i < job.segments.size(); ++i) {
        inputs.push_back({job.segments[i], job.alignedStarts[i], job.trackOfSegment[i]});
    }
    return PassthroughCopier::copy(inputs, job.tracks, path, muxer, job.cancelled, job.tags);
}

} // namespace

FFmpegExportSession::FFmpegExportSession(const MediaComposition& composition, Kind kind)
    : job_(std::make_shared<Job>()) {
    job_->kind = kind;
    if (const QString output = outputKindName(composition.userOutput()); !output.isEmpty()) {
        job_->tags[ffmpeg::userOutputKey] = output.toUtf8();
    }
    if (composition.nearSideEchoRemoved()) {
        job_->tags[ffmpeg::nearSideEchoKey] = ffmpeg::echoRemovedValue;
    }
    const auto tracks = composition.tracks();
    const auto starts = composition.alignedStartSeconds();
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        job_->tracks.push_back({tracks[t]->title(), tracks[t]->isEnabled()});
        const auto& segments = tracks[t]->segments();
        for (std::size_t s = 0; s < segments.size(); ++s) {
            job_->segments.push_back(segments[s]);
            job_->trackOfSegment.push_back(int(t));
            job_->alignedStarts.push_back(starts[t][s]);
        }
    }
}

FFmpegExportSession::~FFmpegExportSession() {
    job_->cancelled = true;
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();
        } else {
            thread_.join();
        }
    }
}

void FFmpegExportSession::setOutputFileType(MediaFileType fileType) {
    std::lock_guard lock(job_->mutex);
    job_->fileType = fileType;
}

void FFmpegExportSession::setOutputPath(const QString& path) {
    std::lock_guard lock(job_->mutex);
    job_->outputPath = path;
}

void FFmpegExportSession::exportAsynchronously(std::function<void()> completion) {
    {
        std::lock_guard lock(job_->mutex);
        if (job_->status != ExportStatus::waiting || thread_.joinable()) {
            return;
        }
        job_->status = ExportStatus::exporting;
    }
    thread_ = std::thread([job = job_, completion = std::move(completion)] {
        MediaFileType fileType;
        QString path;
        {
            std::lock_guard lock(job->mutex);
            fileType = job->fileType;
            path = job->outputPath;
        }
        bool created = false;
        const std::optional<QString> error = exportJob(*job, fileType, path, &created);
        const bool cancelled = job->cancelled;
        if ((error || cancelled) && created) {
            // A partial file would pass for a recording.
            QFile::remove(path);
        }
        {
            std::lock_guard lock(job->mutex);
            if (cancelled) {
                job->status = ExportStatus::cancelled;
            } else if (error) {
                job->status = ExportStatus::failed;
                job->error = error;
            } else {
                job->status = ExportStatus::completed;
            }
        }
        if (completion) {
            completion();
        }
    });
}

void FFmpegExportSession::cancelExport() {
    job_->cancelled = true;
}

ExportStatus FFmpegExportSession::status() const {
    std::lock_guard lock(job_->mutex);
    return job_->status;
}

std::optional<QString> FFmpegExportSession::errorMessage() const {
    std::lock_guard lock(job_->mutex);
    return job_->error;
}

} // namespace orvo
