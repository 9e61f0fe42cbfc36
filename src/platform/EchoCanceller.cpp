#include "platform/EchoCanceller.h"

#include <algorithm>

namespace orvo {

std::optional<EchoCancelled> EchoCanceller::cancel(std::span<const float> near,
                                                   std::span<const float> far, int sampleRate,
                                                   EchoSides sides) {
    auto cancellation = start(sampleRate, sides);
    if (!cancellation) {
        return std::nullopt;
    }
    std::vector<float> padded;
    if (far.size() < near.size()) {
        padded.assign(far.begin(), far.end());
        padded.resize(near.size());
        far = padded;
    }
    EchoCancelled result{cancellation->push(near, far.first(near.size())), {}};
    const auto rest = cancellation->finish();
    result.near.insert(result.near.end(), rest.begin(), rest.end());
    result.delaysMs = cancellation->delaysMs();
    if (result.delaysMs.empty() || result.near.size() != near.size()) {
        return std::nullopt;
    }
    return result;
}

} // namespace orvo
