#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/Media.h"
#include "platform/linux/media/PassthroughCopier.h"

namespace orvo {

// An export on a worker thread of its own: a mix of every audio track into one AAC track,
// or a copy of every track unchanged.
class FFmpegExportSession final : public ExportSession {
public:
    enum class Kind { mix, mixAndSides, passthrough };

    FFmpegExportSession(const MediaComposition& composition, Kind kind);
    // Cancels a running export and waits for it, except on the export's own thread.
    ~FFmpegExportSession() override;

    void setOutputFileType(MediaFileType fileType) override;
    void setOutputPath(const QString& path) override;
    void exportAsynchronously(std::function<void()> completion) override;
    void cancelExport() override;
    ExportStatus status() const override;
    std::optional<QString> errorMessage() const override;

    // What the worker shares with the session; the worker keeps it alive on its own.
    struct Job {
        std::vector<MediaCompositionSegment> segments; // in composition order
        std::vector<int> trackOfSegment;               // composition track index per segment
        std::vector<double> alignedStarts;             // per segment
        std::vector<PassthroughCopier::Track> tracks;  // per composition track
        ffmpeg::FileTags tags;                         // of the result
        Kind kind = Kind::mix;
        std::atomic<bool> cancelled = false;

        mutable std::mutex mutex; // guards everything below
        MediaFileType fileType = MediaFileType::unknown;
        QString outputPath;
        ExportStatus status = ExportStatus::waiting;
        std::optional<QString> error;
    };

private:
    std::shared_ptr<Job> job_;
    std::thread thread_;
};

} // namespace orvo
