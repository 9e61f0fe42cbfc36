#pragma once

#include "platform/SessionPreset.h"

namespace orvo {

// What a session preset means for the encoders.
struct CaptureQuality {
    int audioBitRate = 0;   // AAC, bits per second, stereo 48 kHz
    int videoFrameRate = 0; // frames per second of the screen
    int videoCrf = 0;       // x264 constant rate factor: lower is better
};

// low: 64 kb/s, 10 fps, CRF 30; medium: 128 kb/s, 15 fps, CRF 26; high: 192 kb/s, 30 fps, CRF 22.
CaptureQuality captureQuality(SessionPreset preset);

} // namespace orvo
