#include "audio/AudioRoute.h"

#include <algorithm>

#include "audio/AudioManager.h"

namespace orvo {

AudioDeviceID AudioRoute::aggregateDevice() const {
    return AudioManager::outputDeviceWithUID(aggregateUID).value_or(noAudioDevice);
}

AudioDeviceID AudioRoute::userOutputDevice() const {
    return AudioManager::outputDeviceWithUID(userOutputUID).value_or(noAudioDevice);
}

bool AudioRoute::carries(AudioDeviceID device) const {
    const auto uid = AudioManager::getDeviceUUID(device).value_or(QString());
    return !uid.isEmpty() &&
           (uid == aggregateUID ||
            std::any_of(branches.begin(), branches.end(),
                        [&](const Branch& branch) { return branch.aggregateUID == uid; }));
}

} // namespace orvo
