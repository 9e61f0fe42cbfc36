#pragma once

#include <memory>

#include <QString>

namespace orvo {

// What a start needs from the sound server, made while no recording runs: the combined output
// for the user's output (not the default yet) and a reader of the driver's input. A sound
// server starts a new combined output, and an idle device's first reader, up to seconds late;
// made ahead, a start only switches the default output and the far side is recorded from the
// click on. Called on the device thread only.
class WarmStart {
public:
    // Makes what is missing; what is there and still fits stays.
    void prepare();
    // Removes the combined output made ahead and stops reading the driver.
    void release();

private:
    std::shared_ptr<void> driverReader_;
    QString driverUID_;
};

} // namespace orvo
