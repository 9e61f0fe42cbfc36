#pragma once

#include <chrono>
#include <optional>
#include <variant>

#include <QDBusUnixFileDescriptor>
#include <QSize>
#include <QString>

namespace orvo {

// The desktop's screen-cast portal (org.freedesktop.portal.ScreenCast), how a program sees the
// screen in a Wayland session: the user chooses one screen in the desktop's own dialog, or a
// restore token of an earlier choice chooses it without asking, and the portal hands over a
// PipeWire stream of it. Any thread: each call runs an event loop of the calling thread until
// the portal has answered.
class ScreenCastPortal {
public:
    // A screen the portal streams, until close.
    struct Session {
        QString handle;                      // the portal's session object
        quint32 nodeId = 0;                  // the stream's node on the PipeWire remote
        QSize size;                          // the screen's size, when the portal says it
        QDBusUnixFileDescriptor pipeWire;    // the remote to connect to
        std::optional<QString> restoreToken; // for the next session, when the portal keeps one
    };
    enum class Failure {
        missing,   // no portal answers on the session bus, or it has no screen casting
        cancelled, // the user closed the dialog without a choice
        failed,    // the portal refused, or did not answer in time
    };
    struct Refusal {
        Failure failure;
        QString message; // what the portal said, for the log
    };

    static constexpr std::chrono::milliseconds defaultTimeout{120000};

    // The interface's version; absent when no portal answers.
    static std::optional<quint32> version();
    // Asks for one screen, with the cursor drawn in, and a token that remembers the choice
    // when the portal keeps them (version 4 and later). timeout bounds the user's choice too.
    static std::variant<Session, Refusal> open(const std::optional<QString>& restoreToken,
                                               std::chrono::milliseconds timeout = defaultTimeout);
    // Ends the portal's session; its stream stops.
    static void close(const QString& sessionHandle);
};

} // namespace orvo
