#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/Capture.h"
#include "platform/linux/capture/LinuxFileOutput.h"

namespace orvo {

class AudioWriteStage;
class AudioStretcher;
class LiveMixSegment;
class AudioTimeline;
class PulseRecordStream;

// The audio of one PulseAudio source into an AAC .m4a: read, timed and stretched on a worker
// thread of its own, encoded and written on another.
class LinuxAudioFileOutput final
    : public LinuxFileOutput<CaptureAudioFileOutput, LinuxAudioFileOutput> {
public:
    LinuxAudioFileOutput();
    ~LinuxAudioFileOutput() override;

    std::optional<float> takeLoudestDecibels() override;

    // Any thread, before the recording starts: the recording's sound goes into this mixed
    // track as the source's side (its index there), and the output's own file keeps it as
    // speech-quality mono.
    void setMix(std::shared_ptr<LiveMixSegment> mix, int source);

private:
    struct Chunk {
        std::vector<float> samples;
        TimePoint captured;
        std::int64_t frames = 0;
    };

    void run() override;

    // While the source is lost: opens it again when due. True once it records again; after
    // the reconnect window, ends the recording with the error instead.
    bool reconnect(PulseRecordStream& stream);
    void measure(const float* samples, std::int64_t frames);
    void keepForStart(const float* samples, std::int64_t frames, TimePoint captured);
    void begin(const StartRequest& request);
    void placeGathered(bool now);
    void retimePreroll();
    void place(const float* samples, std::int64_t frames, TimePoint captured);
    std::optional<QString> write(const float* samples, std::int64_t frames, std::int64_t stretch);
    std::optional<QString> writeStretched(); // what the stretcher handed out, to the file
    std::optional<QString> writeSilence(std::int64_t frames);
    void end(std::optional<CaptureError> error);

    std::mutex mixMutex_; // guards nextMix_ and nextMixSource_
    std::shared_ptr<LiveMixSegment> nextMix_;
    int nextMixSource_ = 0;
    // The largest magnitude read since the last reading of the level; negative: none read.
    std::atomic<float> loudest_{-1.0f};

    // Worker thread only.
    std::deque<Chunk> preroll_; // the last moments before a start, so all sources start together
    bool gathering_ = false;    // the first moments after a start are gathered, not yet placed
    TimePoint recordingStart_{};
    std::unique_ptr<AudioWriteStage> writer_; // encodes and writes on a thread of its own
    std::unique_ptr<AudioTimeline> timeline_;
    std::unique_ptr<AudioStretcher> stretcher_;
    std::shared_ptr<LiveMixSegment> mix_; // of the running recording, if any
    int mixSource_ = 0;
    std::vector<float> stretched_; // what the stretcher handed out for the writer
    std::optional<CaptureError> writeError_;
    QString sourceName_;
    std::optional<TimePoint> lostAt_; // when the source of the running recording was lost
    TimePoint lastAttempt_{};
    QString lostReason_;
};

} // namespace orvo
