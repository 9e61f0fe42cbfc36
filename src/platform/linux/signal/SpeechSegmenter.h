#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvo {

// Cuts 16 kHz mono audio into stretches of speech by loudness, so that the speech decoder never
// sees the long silences of a call's side (the other side talking) and each stretch can be
// normalised on its own. Cheap: a sum of squares per 10 ms frame.
class SpeechSegmenter {
public:
    static constexpr std::size_t frameSamples = 160;
    // A pause this long ends a stretch; shorter ones stay inside it.
    static constexpr std::size_t pauseFrames = 50;
    // Audio kept before the first and after the last loud frame: soft onsets and endings.
    static constexpr std::size_t marginFrames = 20;
    // Fewer loud frames than this are a click, not speech.
    static constexpr std::size_t minimumSpeechFrames = 10;
    // One speaking this long without a pause is cut, to bound memory and wait.
    static constexpr std::size_t longestFrames = 3000;

    struct Segment {
        std::size_t startSample = 0;
        std::vector<std::int16_t> samples;
    };

    // Appends the stretches that samples complete to done.
    void push(const std::int16_t* samples, std::size_t count, std::vector<Segment>& done);
    // At the end of the audio: appends the stretch still open, if any.
    void finish(std::vector<Segment>& done);

private:
    bool loud(const std::int16_t* frame);
    void close(std::vector<Segment>& done, bool atEnd);

    // The audio not yet handed out, from pendingStart_ on.
    std::vector<std::int16_t> pending_;
    std::size_t pendingStart_ = 0;
    // Where the last stretch handed out ends: a stretch cut for its length and the next one
    // must not share their margins.
    std::size_t handedOutEnd_ = 0;
    // Frames examined so far; frame f covers samples [f * frameSamples, (f + 1) * frameSamples).
    std::size_t frames_ = 0;
    bool inSpeech_ = false;
    std::size_t firstLoud_ = 0;
    std::size_t lastLoud_ = 0;
    std::size_t loudFrames_ = 0;
    double noiseFloor_ = -1;
};

} // namespace orvo
