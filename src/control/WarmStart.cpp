#include "control/WarmStart.h"

#include "audio/AudioManager.h"

namespace orvo {

void WarmStart::prepare() {
    const bool built = AudioManager::prepareAggregateDevice();
    const auto driver = AudioManager::driverCaptureDevice();
    if (!driver) {
        driverReader_.reset();
        return;
    }
    // A new combined output means the server's devices were made anew (a restart, a new
    // driver): the reader of the old ones may be gone with them.
    if (built || !driverReader_ || driver->uniqueID != driverUID_) {
        driverReader_.reset();
        driverReader_ = AudioManager::keepInputRunning(driver->uniqueID);
        driverUID_ = driver->uniqueID;
    }
}

void WarmStart::release() {
    driverReader_.reset();
    AudioManager::removeIdleAggregateDevices();
}

} // namespace orvo
