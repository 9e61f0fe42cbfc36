#pragma once

#include <array>
#include <utility>

#include <QString>

namespace orvo {

// What the user listens through on an output device.
enum class OutputKind { unknown, speakers, headphones, headset, earpiece };

// Whether what the output plays stays out of the microphone, so that a recording holds no echo
// of the other side. An earpiece does not count: it sits in the body of the handset that holds
// the microphone.
constexpr bool isWorn(OutputKind kind) {
    return kind == OutputKind::headphones || kind == OutputKind::headset;
}

namespace detail {
inline const std::array<std::pair<OutputKind, const char*>, 4> outputKindNames{{
    {OutputKind::speakers, "speakers"},
    {OutputKind::headphones, "headphones"},
    {OutputKind::headset, "headset"},
    {OutputKind::earpiece, "earpiece"},
}};
} // namespace detail

// The name a recording keeps it by; empty for unknown, which a recording does not keep.
inline QString outputKindName(OutputKind kind) {
    for (const auto& [each, name] : detail::outputKindNames) {
        if (each == kind) {
            return QString::fromLatin1(name);
        }
    }
    return {};
}

// unknown for a name that outputKindName does not give.
inline OutputKind outputKindNamed(const QString& name) {
    for (const auto& [kind, each] : detail::outputKindNames) {
        if (name == QLatin1String(each)) {
            return kind;
        }
    }
    return OutputKind::unknown;
}

} // namespace orvo
