#pragma once

#include <QRect>
#include <QSlider>
#include <QWidget>

#include "platform/AudioHardware.h"

namespace orvo {

// The tray menu's volume row: a horizontal slider, 16 px in from each side, setting the
// volume (0.0 to 1.0) of the output device the running recording will restore,
// setDevice(). Main thread.
class VolumeView : public QWidget {
    Q_OBJECT
public:
    explicit VolumeView(const QRect& frame, QWidget* parent = nullptr);

    // Owned by the view.
    QSlider* const slider;

    float volume() const;
    // Shows volume (clamped to 0.0 to 1.0) without setting any device's volume.
    void setVolume(float volume);
    // The output device the slider acts on from now on; none at first.
    void setDevice(AudioDeviceID device) { device_ = device; }

public slots:
    // Sets the slider's volume on the device; a device without a settable volume keeps its own.
    void valueChange();

private:
    AudioDeviceID device_ = noAudioDevice;
};

} // namespace orvo
