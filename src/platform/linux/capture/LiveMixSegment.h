#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include <QString>

#include "platform/Capture.h"
#include "platform/linux/capture/AudioLimiter.h"
#include "platform/linux/signal/LiveAudioMix.h"
#include "platform/linux/signal/RecordingClock.h"

namespace orvo {

class AudioWriteStage;
class EchoFreeSideStage;

// The mixed track of a recording's audio outputs, written while they record, into a
// fragmented segment of its own beside theirs: their aligned sound summed (LiveAudioMix),
// limited as the export's mix is, encoded in the preset's quality on a thread of its own.
// A failure of the mix is said on the console and leaves its segment short; a mix that missed
// sound of a side that came too late for it is removed when it ends, so that the sides are
// mixed again from their own segments. Those are never touched by it. With an echo-free near
// side, the first two sides (the near side, then the far side) also go, aligned, to an
// EchoFreeSideStage, which is removed with the mix. Shared by the outputs; any thread.
class LiveMixSegment {
public:
    // How far one side may lag before the mix goes on without it. A PipeWire monitor may
    // deliver seconds after the microphone when the call begins.
    static constexpr std::int64_t windowFrames = 10 * 48000;

    LiveMixSegment(QString path, int bitRate, int sources,
                   std::optional<EchoFreeNearSide> echoFree = std::nullopt);
    ~LiveMixSegment();
    LiveMixSegment(const LiveMixSegment&) = delete;
    LiveMixSegment& operator=(const LiveMixSegment&) = delete;

    // The source's recording begins at start; the first call opens the file, which begins
    // there on the clock.
    void begin(int source, const RecordingClock& clock, RecordingClock::Clock::time_point start);
    // The source's next frames as its own segment gets them: interleaved stereo at 48 kHz.
    void add(int source, const float* interleaved, std::int64_t frames);
    // After the source's last frames. The last source's call writes the rest and closes the
    // file before it returns.
    void end(int source);

    const QString& path() const { return path_; }

private:
    void open(const RecordingClock& clock, RecordingClock::Clock::time_point start);
    void write(const float* interleaved, std::int64_t frames); // under the mix's lock
    void writeSides(const std::vector<std::vector<float>>& sides, std::int64_t frames); // too
    void openEchoFree(const RecordingClock& clock, RecordingClock::Clock::time_point start);
    void finishEchoFree(bool missedSound);
    void finish();
    void fail(const QString& error);

    const QString path_;
    const int bitRate_;
    const int sources_;
    std::mutex openMutex_; // guards opened_, start_
    bool opened_ = false;
    RecordingClock::Clock::time_point start_{};
    std::atomic<bool> failed_ = false;
    AudioLimiter limiter_;                   // under the mix's lock once open
    std::vector<float> limited_;             // under the mix's lock
    std::unique_ptr<AudioWriteStage> stage_; // set once, when opened
    std::optional<EchoFreeNearSide> echoFree_;
    std::unique_ptr<EchoFreeSideStage> echoFreeStage_; // set once, when opened; under the lock
    LiveAudioMix mix_;
};

} // namespace orvo
