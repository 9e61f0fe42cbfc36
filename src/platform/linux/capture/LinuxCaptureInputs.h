#pragma once

#include <memory>

#include <QRect>
#include <QString>

#include "platform/Capture.h"
#include "platform/linux/capture/ScreenCastPortal.h"

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

// A screen that the desktop's screen-cast portal streams; the portal's session ends with it.
class PortalScreen {
public:
    explicit PortalScreen(ScreenCastPortal::Session session) : session_(std::move(session)) {}
    ~PortalScreen() { ScreenCastPortal::close(session_.handle); }
    PortalScreen(const PortalScreen&) = delete;
    PortalScreen& operator=(const PortalScreen&) = delete;
    const ScreenCastPortal::Session& session() const { return session_; }

private:
    ScreenCastPortal::Session session_;
};

// A screen: an area of an X display, or in a Wayland session the screen that the desktop's
// screen-cast portal streams.
class LinuxScreenInput final : public CaptureInput {
public:
    LinuxScreenInput(QString displayName, QRect geometry)
        : displayName_(std::move(displayName)), geometry_(geometry) {}
    explicit LinuxScreenInput(std::shared_ptr<const PortalScreen> portal)
        : portal_(std::move(portal)) {}
    CaptureMediaType mediaType() const override { return CaptureMediaType::video; }
    const QString& displayName() const { return displayName_; }
    const QRect& geometry() const { return geometry_; }
    // nullptr for an X display's screen.
    const std::shared_ptr<const PortalScreen>& portal() const { return portal_; }

private:
    QString displayName_;
    QRect geometry_;
    std::shared_ptr<const PortalScreen> portal_;
};

} // namespace orvo
