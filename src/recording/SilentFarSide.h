#pragma once

#include <chrono>
#include <optional>

namespace orvo {

// Decides when the user must hear that the far side of a call is not being recorded: its
// level stayed below silenceDecibels for patience while some program played into the combined
// output, whose sound a working call brings to the far side (a stream that pins another
// device, a headset in its hands-free profile, a driver at zero volume). Once per recording.
// Pure logic: the caller brings the time.
class SilentFarSide {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    static constexpr float silenceDecibels = -60.0f;
    static constexpr std::chrono::seconds patience{10};

    // One look, covering the time since the look before: the far side's loudest level then
    // (absent when nothing came, which says nothing of silence) and whether something plays
    // into the combined output now. True at the one look that finds the far side silent.
    bool observe(TimePoint now, std::optional<float> loudestDecibels, bool playing);

private:
    std::optional<TimePoint> lastLook_;
    std::optional<TimePoint> silentSince_;
    bool told_ = false;
};

} // namespace orvo
