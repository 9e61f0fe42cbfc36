#include "recording/SilentFarSide.h"

namespace orvo {

bool SilentFarSide::observe(TimePoint now, std::optional<float> loudestDecibels, bool playing) {
    const bool silent = playing && loudestDecibels && *loudestDecibels < silenceDecibels;
    if (!silent) {
        silentSince_.reset();
    } else if (!silentSince_) {
        // The look covers the time since the one before.
        silentSince_ = lastLook_.value_or(now);
    }
    lastLook_ = now;
    if (told_ || !silentSince_ || now - *silentSince_ < patience) {
        return false;
    }
    told_ = true;
    return true;
}

} // namespace orvo
