#include "platform/linux/capture/LinuxMovieFileOutput.h"

#include <cmath>

#include "platform/linux/capture/CaptureQuality.h"
#include "platform/linux/capture/H264SegmentWriter.h"
#include "platform/linux/capture/LinuxCaptureInputs.h"
#include "platform/linux/capture/ScreenSource.h"

namespace orvo {

namespace {
constexpr auto idleWait = std::chrono::milliseconds(50);

const char* formatName(CaptureFileType type) {
    return type == CaptureFileType::appleM4A ? "mp4" : "mov";
}
} // namespace

LinuxMovieFileOutput::LinuxMovieFileOutput() = default;
LinuxMovieFileOutput::~LinuxMovieFileOutput() = default;

void LinuxMovieFileOutput::run() {
    ScreenSource source;
    const auto* screen = dynamic_cast<const LinuxScreenInput*>(input_.get());
    std::optional<QString> sourceError =
        screen != nullptr ? source.open(*screen, captureQuality(preset_).videoFrameRate)
                          : std::optional<QString>(QStringLiteral("not a screen"));
    source_ = &source;
    reportOpened();

    while (true) {
        const bool quit = quitRequested();
        if (auto start = takeStart()) {
            if (sourceError) {
                recording_ = Recording{start->path, start->delegate};
                end(CaptureError{CaptureErrorCode::sourceFailed, *sourceError});
            } else {
                begin(*start);
            }
        }
        const auto stop = takeStop();
        if (recording_ && (stop || quit || writeError_)) {
            end(std::nullopt);
        }
        if (quit) {
            break;
        }
        if (sourceError) {
            waitForRequest(idleWait);
            continue;
        }
        QString error;
        ffmpeg::Frame frame = source.grab(&error);
        const TimePoint captured = clock_->now();
        if (!frame) {
            sourceError = error;
            if (recording_) {
                end(CaptureError{CaptureErrorCode::sourceFailed, error});
            }
        } else if (recording_) {
            place(*frame, captured);
        } else {
            latest_ = std::move(frame);
        }
    }
}

void LinuxMovieFileOutput::begin(const StartRequest& request) {
    recording_ = Recording{request.path, request.delegate};
    writeError_.reset();
    start_ = request.start;
    lastIndex_ = -1;
    writer_ = std::make_unique<H264SegmentWriter>();
    // The portal's stream tells its size with its first frame, which seldom comes after the
    // start.
    if (source_->size().isEmpty()) {
        QString error;
        if (ffmpeg::Frame first = source_->grab(&error)) {
            latest_ = std::move(first);
        }
    }
    size_ = source_->size();
    if (auto error =
            writer_->open(request.path, formatName(request.fileType), size_.width(), size_.height(),
                          captureQuality(preset_), clock_->epochMicroseconds(start_))) {
        writeError_ = CaptureError{CaptureErrorCode::fileFailed, *error};
        end(writeError_);
        return;
    }
    if (latest_) {
        // The screen as it was at the start.
        place(*latest_, start_);
        latest_.reset();
    }
}

void LinuxMovieFileOutput::place(const AVFrame& frame, TimePoint captured) {
    // A screen whose resolution changed mid-way sends frames the file cannot hold.
    if (writeError_ || frame.width != size_.width() || frame.height != size_.height()) {
        return;
    }
    const double seconds = std::chrono::duration<double>(captured - start_).count();
    const auto index =
        std::int64_t(std::llround(std::max(0.0, seconds) * captureQuality(preset_).videoFrameRate));
    if (index <= lastIndex_) {
        return;
    }
    lastIndex_ = index;
    if (auto error = writer_->write(frame, index)) {
        writeError_ = CaptureError{CaptureErrorCode::fileFailed, *error};
    }
}

void LinuxMovieFileOutput::end(std::optional<CaptureError> error) {
    if (!error) {
        error = writeError_;
    }
    if (writer_) {
        const auto closing = writer_->finish();
        if (!error && closing) {
            error = CaptureError{CaptureErrorCode::fileFailed, *closing};
        }
    }
    writer_.reset();
    finishRecording(*this, error);
}

} // namespace orvo
