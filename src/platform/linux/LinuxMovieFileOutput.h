#pragma once

#include <memory>

#include "platform/Capture.h"
#include "platform/linux/FFmpegHandles.h"
#include "platform/linux/LinuxCaptureOutput.h"

namespace orvo {

class H264SegmentWriter;

// The screen's area into an H.264 .mov, on a worker thread of its own.
class LinuxMovieFileOutput final : public CaptureMovieFileOutput,
                                   public LinuxCaptureOutput,
                                   public std::enable_shared_from_this<LinuxMovieFileOutput> {
public:
    LinuxMovieFileOutput();
    ~LinuxMovieFileOutput() override;

    void startRecording(const QString& path, CaptureFileType fileType,
                        CaptureFileOutputRecordingDelegate& delegate) override;
    using CaptureMovieFileOutput::startRecording;
    void stopRecording() override;
    bool isRecording() const override;

private:
    void run() override;
    std::shared_ptr<LinuxCaptureOutput> self() override { return shared_from_this(); }

    void begin(const StartRequest& request);
    void place(const AVFrame& frame, TimePoint captured);
    void end(std::optional<CaptureError> error);

    // Worker thread only.
    ffmpeg::Frame latest_; // the newest picture before a start: the recording's first
    std::unique_ptr<H264SegmentWriter> writer_;
    TimePoint start_{};
    std::int64_t lastIndex_ = -1;
    std::optional<CaptureError> writeError_;
};

} // namespace orvo
