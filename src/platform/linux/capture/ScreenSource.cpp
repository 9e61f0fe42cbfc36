#include "platform/linux/capture/ScreenSource.h"

#include <fcntl.h>

#include "platform/linux/capture/ScreenCastPortal.h"

namespace orvo {

ScreenSource::~ScreenSource() {
    // The stream goes before the session that feeds it.
    pipeWire_.reset();
    ScreenCastPortal::close(portalSession_);
}

std::optional<QString> ScreenSource::open(const LinuxScreenInput& input, int frameRate) {
    if (input.portal()) {
        return openPortal(*input.portal(), frameRate);
    }
    x11_ = std::make_unique<X11ScreenGrabber>();
    x11Size_ = input.geometry().size();
    return x11_->open(input.displayName(), input.geometry(), frameRate);
}

std::optional<QString> ScreenSource::openPortal(const LinuxScreenInput::PortalChoice& choice,
                                                int frameRate) {
    auto opened = ScreenCastPortal::open(choice.restoreToken);
    if (const auto* refusal = std::get_if<ScreenCastPortal::Refusal>(&opened)) {
        switch (refusal->failure) {
        case ScreenCastPortal::Failure::missing:
            return QStringLiteral("The desktop offers no screen recording (no screen-cast "
                                  "portal): %1")
                .arg(refusal->message);
        case ScreenCastPortal::Failure::cancelled:
            return QStringLiteral("No screen was chosen to record");
        case ScreenCastPortal::Failure::failed:
            return QStringLiteral("The desktop refused to share the screen: %1")
                .arg(refusal->message);
        }
    }
    auto& session = std::get<ScreenCastPortal::Session>(opened);
    portalSession_ = session.handle;
    if (session.restoreToken && choice.keepToken) {
        choice.keepToken(*session.restoreToken);
    }
    // The grabber's connection owns its descriptor; the portal's copy closes with the session.
    const int remote = fcntl(session.pipeWire.fileDescriptor(), F_DUPFD_CLOEXEC, 3);
    if (remote < 0) {
        return QStringLiteral("cannot take the screen's PipeWire remote");
    }
    pipeWire_ = std::make_unique<PipeWireScreenGrabber>();
    return pipeWire_->open(remote, session.nodeId, frameRate);
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
