#pragma once

#include <QRect>
#include <QString>

#include "platform/Capture.h"

namespace orvo {

// A PulseAudio source: the capture device's unique ID is the source's name.
class LinuxDeviceInput final : public CaptureInput {
public:
    explicit LinuxDeviceInput(QString sourceName) : sourceName_(std::move(sourceName)) {}
    CaptureMediaType mediaType() const override { return CaptureMediaType::audio; }
    const QString& sourceName() const { return sourceName_; }

private:
    QString sourceName_;
};

// The area of one screen on an X display.
class LinuxScreenInput final : public CaptureInput {
public:
    LinuxScreenInput(QString displayName, QRect geometry)
        : displayName_(std::move(displayName)), geometry_(geometry) {}
    CaptureMediaType mediaType() const override { return CaptureMediaType::video; }
    const QString& displayName() const { return displayName_; }
    const QRect& geometry() const { return geometry_; }

private:
    QString displayName_;
    QRect geometry_;
};

} // namespace orvo
