#include "tray/VolumeView.h"

#include <algorithm>
#include <cmath>

#include <QHBoxLayout>
#include <QSignalBlocker>

#include "audio/AudioManager.h"

namespace orvo {
namespace {
constexpr int sideMargin = 16;
// Slider positions per unit of volume: fine enough for any sound server's volume steps.
constexpr int steps = 1000;
} // namespace

VolumeView::VolumeView(const QRect& frame, QWidget* parent)
    : QWidget(parent), slider(new QSlider(Qt::Horizontal, this)) {
    setGeometry(frame);
    setMinimumHeight(frame.height());
    slider->setRange(0, steps);
    slider->setSingleStep(steps / 100);
    slider->setPageStep(steps / 10);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(sideMargin, 0, sideMargin, 0);
    layout->addWidget(slider);
    connect(slider, &QSlider::valueChanged, this, &VolumeView::valueChange);
}

float VolumeView::volume() const {
    return static_cast<float>(slider->value()) / steps;
}

void VolumeView::setVolume(float volume) {
    const QSignalBlocker blocker(slider);
    slider->setValue(static_cast<int>(std::lround(std::clamp(volume, 0.0f, 1.0f) * steps)));
}

void VolumeView::valueChange() {
    AudioManager::setVolumeDevice(volume(), device_);
}

} // namespace orvo
