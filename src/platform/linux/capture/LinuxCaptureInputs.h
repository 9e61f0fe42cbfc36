#pragma once

#include <functional>
#include <optional>

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

// A screen: an area of an X display, or in a Wayland session the screen that the desktop's
// screen-cast portal streams (chosen in the desktop's dialog, or by the token of an earlier
// choice).
class LinuxScreenInput final : public CaptureInput {
public:
    // What a portal's choice needs: the token of the last choice, and who keeps the next one
    // (called on the capture's thread).
    struct PortalChoice {
        std::optional<QString> restoreToken;
        std::function<void(const QString& restoreToken)> keepToken;
    };

    LinuxScreenInput(QString displayName, QRect geometry)
        : displayName_(std::move(displayName)), geometry_(geometry) {}
    explicit LinuxScreenInput(PortalChoice choice) : portal_(std::move(choice)) {}
    CaptureMediaType mediaType() const override { return CaptureMediaType::video; }
    const QString& displayName() const { return displayName_; }
    const QRect& geometry() const { return geometry_; }
    // Absent for an X display's screen.
    const std::optional<PortalChoice>& portal() const { return portal_; }

private:
    QString displayName_;
    QRect geometry_;
    std::optional<PortalChoice> portal_;
};

} // namespace orvo
