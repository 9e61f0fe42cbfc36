#include "platform/linux/capture/ScreenSource.h"

#include <fcntl.h>

namespace orvo {

std::optional<QString> ScreenSource::open(const LinuxScreenInput& input, int frameRate) {
    if (input.portal()) {
        return openPortal(*input.portal(), frameRate);
    }
    x11_ = std::make_unique<X11ScreenGrabber>();
    x11Size_ = input.geometry().size();
    return x11_->open(input.displayName(), input.geometry(), frameRate);
}

std::optional<QString> ScreenSource::openPortal(const PortalScreen& portal, int frameRate) {
    // The grabber's connection owns its descriptor; the portal's copy goes with the session.
    const int remote = fcntl(portal.session().pipeWire.fileDescriptor(), F_DUPFD_CLOEXEC, 3);
    if (remote < 0) {
        return QStringLiteral("cannot take the screen's PipeWire remote");
    }
    pipeWire_ = std::make_unique<PipeWireScreenGrabber>();
    return pipeWire_->open(remote, portal.session().nodeId, frameRate);
}

ffmpeg::Frame ScreenSource::grab(QString* error) {
    if (pipeWire_) {
        return pipeWire_->grab(error);
    }
    if (x11_) {
        return x11_->grab(error);
    }
    *error = QStringLiteral("no screen open");
    return nullptr;
}

QSize ScreenSource::size() const {
    return pipeWire_ ? pipeWire_->size() : x11Size_;
}

} // namespace orvo
