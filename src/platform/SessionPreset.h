#pragma once

namespace orvo {

// Quality of a capture session; the recording backend maps it to bit rates and frame rates.
enum class SessionPreset { low, medium, high };

} // namespace orvo
