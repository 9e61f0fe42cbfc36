#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace orvo {

// Sums the sides of a call while they are recorded. Each side delivers interleaved stereo
// frames that follow each other on the recording's timeline (silence included, as the capture
// writes it); the mix goes as far as every side has delivered. A side that falls more than
// the window behind the furthest counts as silence for what it missed, so a muted or lost
// source never holds the mix back for longer; what it brings later for that time stays out
// of the mix (its own segment keeps it). Any thread; output runs under the mix's lock.
class LiveAudioMix {
public:
    static constexpr int channels = 2;
    using Output = std::function<void(const float* interleaved, std::int64_t frames)>;
    // Each side's share of what was just mixed, in source order: as many interleaved frames,
    // silence where a side had none.
    using SidesOutput =
        std::function<void(const std::vector<std::vector<float>>& sides, std::int64_t frames)>;

    // sidesOutput, when given, follows each output.
    LiveAudioMix(int sources, std::int64_t windowFrames, Output output,
                 SidesOutput sidesOutput = nullptr);

    // Where the source's first frame lies on the timeline; 0 unless said.
    void start(int source, std::int64_t atFrame);
    void add(int source, const float* interleaved, std::int64_t frames);
    // The source delivers nothing more; once every source has, the rest goes out. True for
    // the call that ended the last one.
    bool end(int source);
    // Frames handed to the output so far.
    std::int64_t mixedFrames() const;
    // Frames of the source that came after the mix had gone past their time, and of those
    // the ones with sound in them (what the mix lacks; the rest was silence).
    std::int64_t lateFrames(int source) const;
    std::int64_t lateAudibleFrames(int source) const;

private:
    struct Side {
        std::vector<float> pending; // interleaved, up to end
        std::int64_t end = 0;       // the timeline position after its last frame
        std::int64_t late = 0;
        std::int64_t lateAudible = 0;
        bool ended = false;
        std::int64_t begin() const { return end - std::int64_t(pending.size()) / channels; }
    };

    void mixAvailable();
    std::int64_t mixableEnd() const;

    mutable std::mutex mutex_; // guards everything below
    std::vector<Side> sides_;
    const std::int64_t window_;
    Output output_;
    SidesOutput sidesOutput_;
    std::int64_t mixed_ = 0;
    std::vector<float> sum_;
    std::vector<std::vector<float>> aligned_; // for sidesOutput_
};

} // namespace orvo
