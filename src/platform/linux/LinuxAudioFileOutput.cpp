#include "platform/linux/LinuxAudioFileOutput.h"

#include "platform/linux/AacSegmentWriter.h"
#include "platform/linux/AudioTimeline.h"
#include "platform/linux/CaptureQuality.h"
#include "platform/linux/LinuxCaptureInputs.h"
#include "platform/linux/PulseRecordStream.h"

namespace orvo {

namespace {
constexpr auto prerollLength = std::chrono::milliseconds(500);
// How long a stop waits for samples captured before it (the stream's latency).
constexpr auto stopGrace = std::chrono::milliseconds(500);
constexpr auto readSlice = std::chrono::milliseconds(50);
constexpr int channels = PulseRecordStream::channels;
constexpr int sampleRate = PulseRecordStream::sampleRate;

const char* formatName(CaptureFileType type) {
    return type == CaptureFileType::quickTimeMovie ? "mov" : "ipod";
}
} // namespace

LinuxAudioFileOutput::LinuxAudioFileOutput() = default;
LinuxAudioFileOutput::~LinuxAudioFileOutput() = default;

void LinuxAudioFileOutput::startRecording(const QString& path, CaptureFileType fileType,
                                          CaptureFileOutputRecordingDelegate& delegate) {
    requestStart(path, fileType, delegate, *this);
}

void LinuxAudioFileOutput::stopRecording() {
    requestStop();
}

bool LinuxAudioFileOutput::isRecording() const {
    return recordingNow();
}

void LinuxAudioFileOutput::wake() {
    std::lock_guard lock(wakeMutex_);
    if (liveStream_ != nullptr) {
        liveStream_->wakeup();
    }
}

void LinuxAudioFileOutput::run() {
    PulseRecordStream stream;
    const auto* device = dynamic_cast<const LinuxDeviceInput*>(input_.get());
    std::optional<QString> sourceError =
        device != nullptr ? stream.open(device->sourceName())
                          : std::optional<QString>(QStringLiteral("not an audio device"));
    {
        std::lock_guard lock(wakeMutex_);
        liveStream_ = &stream;
    }
    reportOpened();

    std::optional<TimePoint> stopAt;
    TimePoint stopDeadline{};
    auto onChunk = [this](const float* samples, std::int64_t frames, TimePoint captured) {
        if (recording_) {
            place(samples, frames, captured);
        } else {
            keepForStart(samples, frames, captured);
        }
    };
    while (true) {
        const bool quit = quitRequested();
        if (auto start = takeStart()) {
            stopAt.reset();
            if (sourceError) {
                recording_ = Recording{start->path, start->delegate};
                end(CaptureError{CaptureErrorCode::sourceFailed, *sourceError});
            } else {
                begin(*start);
            }
        }
        if (auto stop = takeStop(); stop && recording_) {
            stopAt = *stop;
            timeline_->setEnd(*stop);
            stopDeadline = clock_->now() + stopGrace;
        }
        if (quit && recording_ && !stopAt) {
            stopAt = clock_->now();
            timeline_->setEnd(*stopAt);
            stopDeadline = *stopAt;
        }
        if (recording_ && (writeError_ || (stopAt && (timeline_->reachedEnd() ||
                                                      clock_->now() >= stopDeadline)))) {
            end(std::nullopt);
            stopAt.reset();
        }
        if (quit && !recording_) {
            break;
        }
        if (sourceError) {
            // Nothing to read: wait for the next request.
            waitForRequest(readSlice);
            continue;
        }
        stream.read(readSlice, onChunk);
        if (auto failure = stream.failure()) {
            sourceError = failure;
            if (recording_) {
                end(CaptureError{CaptureErrorCode::sourceFailed, *failure});
            }
        }
    }
    std::lock_guard lock(wakeMutex_);
    liveStream_ = nullptr;
}

void LinuxAudioFileOutput::keepForStart(const float* samples, std::int64_t frames,
                                        TimePoint captured) {
    // Small chunks join the one before: the count, not each arrival, places them.
    if (!preroll_.empty() && preroll_.back().frames < sampleRate / 50) {
        Chunk& last = preroll_.back();
        last.samples.insert(last.samples.end(), samples, samples + frames * channels);
        last.frames += frames;
    } else {
        preroll_.push_back(
            {std::vector<float>(samples, samples + frames * channels), captured, frames});
    }
    while (!preroll_.empty() && preroll_.front().captured < captured - prerollLength) {
        preroll_.pop_front();
    }
}

void LinuxAudioFileOutput::begin(const StartRequest& request) {
    recording_ = Recording{request.path, request.delegate};
    writeError_.reset();
    writer_ = std::make_unique<AacSegmentWriter>();
    timeline_ = std::make_unique<AudioTimeline>(sampleRate, request.start);
    if (auto error = writer_->open(request.path, formatName(request.fileType),
                                   captureQuality(preset_).audioBitRate,
                                   clock_->epochMicroseconds(request.start))) {
        writeError_ = CaptureError{CaptureErrorCode::fileFailed, *error};
        end(writeError_);
        return;
    }
    for (const Chunk& chunk : preroll_) {
        place(chunk.samples.data(), chunk.frames, chunk.captured);
    }
    preroll_.clear();
}

void LinuxAudioFileOutput::place(const float* samples, std::int64_t frames, TimePoint captured) {
    if (writeError_) {
        return;
    }
    const AudioTimeline::Placement placement = timeline_->place(frames, captured);
    std::optional<QString> error;
    if (placement.silenceFrames > 0) {
        error = writer_->writeSilence(placement.silenceFrames);
    }
    if (!error && placement.keepFrames > 0) {
        error = writer_->write(samples + placement.skipFrames * channels, placement.keepFrames);
    }
    if (error) {
        writeError_ = CaptureError{CaptureErrorCode::fileFailed, *error};
    }
}

void LinuxAudioFileOutput::end(std::optional<CaptureError> error) {
    if (!error) {
        error = writeError_;
    }
    if (writer_) {
        std::optional<QString> closing;
        if (!error && timeline_ && timeline_->silenceToEnd() > 0) {
            // The source delivered less than the time recorded: the rest was silence.
            closing = writer_->writeSilence(timeline_->silenceToEnd());
        }
        const auto finished = writer_->finish();
        closing = closing ? closing : finished;
        if (!error && closing) {
            error = CaptureError{CaptureErrorCode::fileFailed, *closing};
        }
    }
    writer_.reset();
    timeline_.reset();
    finishRecording(*this, error);
}

} // namespace orvo
