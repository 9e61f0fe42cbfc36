#pragma once

#include <functional>

#include <QObject>

namespace orvo {

// Permissions for the microphone, the screen and on-device speech. Native X11 programs need
// none for the microphone or speech; a screen counts as capturable when every window on it
// shows its name. Main thread unless an operation says otherwise.
class PrivacyManager : public QObject {
    Q_OBJECT
public:
    // The speech authorisation states, by their raw values.
    enum RecognizerStatus { notDetermined = 0, denied = 1, restricted = 2, authorized = 3 };

    static PrivacyManager& shared();

    virtual bool checkMicrophonePrivacy();
    // completedRequest runs before this returns, on the calling thread.
    virtual void requestMicrophonePrivacy(std::function<void(bool)> completedRequest);
    // False without a reachable X display or when one on-screen window has no name.
    virtual bool checkScreenCapture();
    // Grabs the image of one on-screen window at random and throws it away.
    virtual void requestScreenCapture();
    // complitedRequest runs before this returns, on the calling thread.
    virtual void requestRecognizer(std::function<void(bool)> complitedRequest);

    // The answer to a speech authorisation status: true only when authorised; the undecided
    // and refused states are logged.
    static void completeRecognizerRequest(int status,
                                          const std::function<void(bool)>& complitedRequest);

protected:
    PrivacyManager() = default;
};

} // namespace orvo
