#pragma once

#include <memory>

#include <QSize>

#include "platform/Capture.h"
#include "platform/linux/capture/LinuxFileOutput.h"
#include "platform/linux/media/FFmpegHandles.h"

namespace orvo {

class H264SegmentWriter;
class ScreenSource;

// The screen's area into an H.264 .mov, on a worker thread of its own.
class LinuxMovieFileOutput final
    : public LinuxFileOutput<CaptureMovieFileOutput, LinuxMovieFileOutput> {
public:
    LinuxMovieFileOutput();
    ~LinuxMovieFileOutput() override;

private:
    void run() override;

    void begin(const StartRequest& request);
    void place(const AVFrame& frame, TimePoint captured);
    void end(std::optional<CaptureError> error);

    // Worker thread only.
    ScreenSource* source_ = nullptr; // run's, while it runs
    QSize size_;                     // the frames' size in the file being written
    ffmpeg::Frame latest_;           // the newest picture before a start: the recording's first
    std::unique_ptr<H264SegmentWriter> writer_;
    TimePoint start_{};
    std::int64_t lastIndex_ = -1;
    std::optional<CaptureError> writeError_;
};

} // namespace orvo
