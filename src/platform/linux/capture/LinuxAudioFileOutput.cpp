#include "platform/linux/capture/LinuxAudioFileOutput.h"

#include "platform/linux/capture/AacSegmentWriter.h"
#include "platform/linux/capture/AudioStretcher.h"
#include "platform/linux/capture/AudioWriteStage.h"
#include "platform/linux/capture/CaptureQuality.h"
#include "platform/linux/capture/LinuxCaptureInputs.h"
#include "platform/linux/capture/LiveMixSegment.h"
#include "platform/linux/signal/AudioTimeline.h"
#include "platform/linux/sound/PulseRecordStream.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace orvo {

namespace {
constexpr auto prerollLength = std::chrono::milliseconds(500);
// How much of a segment's first audio is gathered before it is placed.
constexpr auto gatherLength = std::chrono::milliseconds(500);
// How long a stop waits for samples captured before it (the stream's latency).
constexpr auto stopGrace = std::chrono::milliseconds(500);
// The source is read this often, as a sound card's period: a server posts its audio in blocks
// of a few milliseconds, and waking for each cost more than encoding it.
constexpr auto readSlice = std::chrono::milliseconds(50);
// A source lost while recording is looked for again this often, for this long.
constexpr auto reconnectInterval = std::chrono::milliseconds(500);
constexpr auto reconnectWindow = std::chrono::seconds(15);
constexpr std::int64_t silenceBlock = 4800;
// How long the disk may stand still before the source has to wait for it.
constexpr std::int64_t writeQueueFrames = 15 * PulseRecordStream::sampleRate;
constexpr int channels = PulseRecordStream::channels;
constexpr int sampleRate = PulseRecordStream::sampleRate;

const char* formatName(CaptureFileType type) {
    return type == CaptureFileType::quickTimeMovie ? "mov" : "ipod";
}
} // namespace

LinuxAudioFileOutput::LinuxAudioFileOutput() = default;
LinuxAudioFileOutput::~LinuxAudioFileOutput() = default;

std::optional<float> LinuxAudioFileOutput::takeLoudestDecibels() {
    const float loudest = loudest_.exchange(-1.0f);
    if (loudest < 0.0f) {
        return std::nullopt;
    }
    // Digital silence reads as far below any threshold rather than minus infinity.
    return 20.0f * std::log10(std::max(loudest, 1e-10f));
}

void LinuxAudioFileOutput::setMix(std::shared_ptr<LiveMixSegment> mix, int source) {
    std::lock_guard lock(mixMutex_);
    nextMix_ = std::move(mix);
    nextMixSource_ = source;
}

void LinuxAudioFileOutput::measure(const float* samples, std::int64_t frames) {
    float chunkLoudest = 0.0f;
    for (std::int64_t i = 0; i < frames * channels; ++i) {
        chunkLoudest = std::max(chunkLoudest, std::abs(samples[i]));
    }
    float previous = loudest_.load();
    while (previous < chunkLoudest && !loudest_.compare_exchange_weak(previous, chunkLoudest)) {
    }
}

void LinuxAudioFileOutput::run() {
    PulseRecordStream stream;
    const auto* device = dynamic_cast<const LinuxDeviceInput*>(input_.get());
    if (device != nullptr) {
        sourceName_ = device->sourceName();
    }
    std::optional<QString> sourceError =
        device != nullptr ? stream.open(sourceName_)
                          : std::optional<QString>(QStringLiteral("not an audio device"));
    reportOpened();

    std::optional<TimePoint> stopAt;
    TimePoint stopDeadline{};
    auto onChunk = [this](const float* samples, std::int64_t frames, TimePoint captured) {
        measure(samples, frames);
        if (recording_ && !gathering_) {
            place(samples, frames, captured);
        } else {
            keepForStart(samples, frames, captured);
            placeGathered(false);
        }
    };
    while (true) {
        const bool quit = quitRequested();
        if (auto start = takeStart()) {
            stopAt.reset();
            lostAt_.reset();
            if (sourceError) {
                recording_ = Recording{start->path, start->delegate};
                end(CaptureError{CaptureErrorCode::sourceFailed, *sourceError});
            } else {
                begin(*start);
            }
        }
        if (auto stop = takeStop(); stop && recording_) {
            stopAt = *stop;
            // A source still lost ends where it was lost: no silence stands in for the rest.
            timeline_->setEnd(lostAt_ ? std::min(*stop, *lostAt_) : *stop);
            placeGathered(true);
            stopDeadline = clock_->now() + stopGrace;
        }
        if (quit && recording_ && !stopAt) {
            stopAt = clock_->now();
            timeline_->setEnd(*stopAt);
            placeGathered(true);
            stopDeadline = *stopAt;
        }
        if (recording_ && (writeError_ || (stopAt && (timeline_->reachedEnd() ||
                                                      clock_->now() >= stopDeadline)))) {
            end(std::nullopt);
            stopAt.reset();
            lostAt_.reset();
        }
        if (quit && !recording_) {
            break;
        }
        if (sourceError) {
            if (recording_ && lostAt_ && !stopAt && reconnect(stream)) {
                sourceError.reset();
            } else {
                // Nothing to read: wait for the next request or the next attempt.
                waitForRequest(readSlice);
            }
            continue;
        }
        waitForRequest(readSlice);
        stream.read(onChunk);
        if (auto failure = stream.failure()) {
            sourceError = failure;
            if (recording_ && !stopAt) {
                // The server restarted or the source went away: the recording waits for it.
                lostAt_ = clock_->now();
                lastAttempt_ = *lostAt_;
                lostReason_ = *failure;
            }
        }
    }
}

bool LinuxAudioFileOutput::reconnect(PulseRecordStream& stream) {
    const TimePoint now = clock_->now();
    if (now - *lostAt_ >= reconnectWindow) {
        lostAt_.reset();
        end(CaptureError{
            CaptureErrorCode::sourceFailed,
            QStringLiteral("%1 (no sound for %2 s)")
                .arg(lostReason_)
                .arg(std::chrono::duration_cast<std::chrono::seconds>(reconnectWindow).count())});
        return false;
    }
    if (now - lastAttempt_ < reconnectInterval) {
        return false;
    }
    lastAttempt_ = now;
    const std::optional<QString> error = stream.open(sourceName_);
    if (error) {
        return false;
    }
    // What comes now is placed after the gap as a start is: its first moments gathered and
    // timed together, the gap in between filled with silence by the timeline.
    lostAt_.reset();
    preroll_.clear();
    gathering_ = true;
    recordingStart_ = clock_->now();
    return true;
}

void LinuxAudioFileOutput::keepForStart(const float* samples, std::int64_t frames,
                                        TimePoint captured) {
    // Small chunks join the one before: the count, not each arrival, places them.
    // Nothing after the start may be dropped: only what came before it is kept short.
    if (!preroll_.empty() && preroll_.back().frames < sampleRate / 50) {
        Chunk& last = preroll_.back();
        last.samples.insert(last.samples.end(), samples, samples + frames * channels);
        last.frames += frames;
    } else {
        preroll_.push_back(
            {std::vector<float>(samples, samples + frames * channels), captured, frames});
    }
    while (!gathering_ && !preroll_.empty() &&
           preroll_.front().captured < captured - prerollLength) {
        preroll_.pop_front();
    }
}

void LinuxAudioFileOutput::begin(const StartRequest& request) {
    recording_ = Recording{request.path, request.delegate};
    writeError_.reset();
    timeline_ = std::make_unique<AudioTimeline>(sampleRate, request.start);
    stretcher_ = std::make_unique<AudioStretcher>(sampleRate, channels);
    {
        std::lock_guard lock(mixMutex_);
        mix_ = nextMix_;
        mixSource_ = nextMixSource_;
    }
    if (mix_) {
        mix_->begin(mixSource_, *clock_, request.start);
    }
    // With a mixed track beside it, this file is one side of the call, kept for what was said.
    const auto layout =
        mix_ ? AacSegmentWriter::Layout::speechMono : AacSegmentWriter::Layout::stereo;
    auto writer = std::make_unique<AacSegmentWriter>();
    if (auto error = writer->open(request.path, formatName(request.fileType),
                                  captureQuality(preset_).audioBitRate,
                                  clock_->epochMicroseconds(request.start), layout)) {
        writeError_ = CaptureError{CaptureErrorCode::fileFailed, *error};
        end(writeError_);
        return;
    }
    writer_ = std::make_unique<AudioWriteStage>(std::move(writer), writeQueueFrames);
    recordingStart_ = request.start;
    gathering_ = true;
    placeGathered(false);
}

void LinuxAudioFileOutput::placeGathered(bool now) {
    // The segment's start rests on the readings of its first moments, so they are gathered
    // and read together before anything is written.
    if (!gathering_ ||
        (!now && (preroll_.empty() || preroll_.back().captured < recordingStart_ + gatherLength))) {
        return;
    }
    gathering_ = false;
    retimePreroll();
    for (const Chunk& chunk : preroll_) {
        place(chunk.samples.data(), chunk.frames, chunk.captured);
    }
    preroll_.clear();
}

void LinuxAudioFileOutput::retimePreroll() {
    // The chunks before the start follow each other without a gap, so one time serves them
    // all: the median of what each chunk's own latency reading says, so that one bad reading,
    // as the first ones of a stream can be, does not move the whole segment.
    if (preroll_.size() < 3) {
        return;
    }
    std::vector<TimePoint> firstFrameTimes;
    std::int64_t before = 0;
    for (const Chunk& chunk : preroll_) {
        firstFrameTimes.push_back(chunk.captured -
                                  std::chrono::microseconds(before * 1000000 / sampleRate));
        before += chunk.frames;
    }
    const auto middle = firstFrameTimes.begin() + std::ptrdiff_t(firstFrameTimes.size() / 2);
    std::nth_element(firstFrameTimes.begin(), middle, firstFrameTimes.end());
    before = 0;
    for (Chunk& chunk : preroll_) {
        chunk.captured = *middle + std::chrono::microseconds(before * 1000000 / sampleRate);
        before += chunk.frames;
    }
}

void LinuxAudioFileOutput::place(const float* samples, std::int64_t frames, TimePoint captured) {
    if (writeError_) {
        return;
    }
    const AudioTimeline::Placement placement = timeline_->place(frames, captured);
    std::optional<QString> error = writeSilence(placement.silenceFrames);
    if (!error && placement.keepFrames > 0) {
        error = write(samples + placement.skipFrames * channels, placement.keepFrames,
                      placement.stretchFrames);
    }
    timeline_->settle(stretcher_->frames());
    if (error) {
        writeError_ = CaptureError{CaptureErrorCode::fileFailed, *error};
    }
}

std::optional<QString> LinuxAudioFileOutput::write(const float* samples, std::int64_t frames,
                                                   std::int64_t stretch) {
    // Silence goes through the stretcher too: it holds a few frames back, and they must stay
    // in order.
    stretched_.clear();
    if (auto error = stretcher_->process(samples, frames, stretch, stretched_)) {
        return error;
    }
    return writeStretched();
}

std::optional<QString> LinuxAudioFileOutput::writeStretched() {
    const auto frames = std::int64_t(stretched_.size() / channels);
    if (mix_) {
        mix_->add(mixSource_, stretched_.data(), frames);
    }
    return writer_->write(stretched_.data(), frames);
}

std::optional<QString> LinuxAudioFileOutput::writeSilence(std::int64_t frames) {
    const std::vector<float> zeros(std::size_t(std::min(frames, silenceBlock) * channels), 0.0f);
    for (std::int64_t done = 0; done < frames;) {
        const std::int64_t count = std::min(frames - done, silenceBlock);
        if (auto error = write(zeros.data(), count, 0)) {
            return error;
        }
        done += count;
    }
    return std::nullopt;
}

void LinuxAudioFileOutput::end(std::optional<CaptureError> error) {
    if (writer_ && !writeError_) {
        // What was gathered is kept, also when the source failed.
        placeGathered(true);
    }
    if (!error) {
        error = writeError_;
    }
    gathering_ = false;
    preroll_.clear();
    if (writer_) {
        std::optional<QString> closing;
        if (!error && timeline_) {
            // The source delivered less than the time recorded: the rest was silence.
            closing = writeSilence(timeline_->silenceToEnd());
        }
        if (!error && !closing && stretcher_) {
            stretched_.clear();
            closing = stretcher_->flush(stretched_);
            closing = closing ? closing : writeStretched();
        }
        const auto finished = writer_->finish();
        closing = closing ? closing : finished;
        if (!error && closing) {
            error = CaptureError{CaptureErrorCode::fileFailed, *closing};
        }
    }
    writer_.reset();
    timeline_.reset();
    stretcher_.reset();
    // The mixed track is complete before the last side's outcome is told.
    if (auto mix = std::exchange(mix_, nullptr)) {
        mix->end(mixSource_);
    }
    finishRecording(*this, error);
}

} // namespace orvo
