#pragma once

#include <memory>
#include <vector>

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

namespace orvo::test {

// A sound server of the test's own, in a private folder, with a default sink "speakers"
// ("Speakers") and a capture device "microphone" ("Microphone"). It ends with the object.
// Tests that need a server of their own (to stop it, or to change its default output
// without disturbing other tests) use it instead of the one of scripts/test. It is a
// PulseAudio daemon, or PipeWire with its PulseAudio server when ORVO_SOUND_SERVER says
// "pipewire" (as scripts/test's second pass does).
class PrivateSoundServer {
public:
    PrivateSoundServer();
    ~PrivateSoundServer();
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    // Empty when the daemon started; otherwise what went wrong.
    const QString& startError() const { return startError_; }
    // The address that libpulse and PULSE_SERVER understand.
    QByteArray address() const;
    // A folder that stands in for / when the driver scripts run.
    QString driverRoot() const;
    // The environment in which pactl and the driver scripts reach this daemon.
    QProcessEnvironment environment() const;

    // Runs pactl with arguments against the daemon; its standard output, empty on failure.
    QString pactl(const QStringList& arguments) const;
    // Runs one of the program's driver scripts ("install_driver", "uninstall_driver") with
    // /bin/sh against the daemon and driverRoot(). Empty on success, else its output.
    QString runDriverScript(const QString& name) const;

    bool isPipeWire() const { return pipeWire_; }

    // Kills the daemon and waits until it has ended.
    void stop();
    // Starts the daemon again after stop(), afresh from its configuration, at the same
    // address. startError() tells how it went.
    void start();
    // Plays silence into a sink until the daemon stops, as a sound card keeps playing: the
    // monitor of an idle null sink delivers in bursts, seconds late.
    void keepBusy(const QString& sink);
    // Freezes the daemon (it keeps its connections but answers nothing) or lets it go on.
    void freeze();
    void thaw();

private:
    void startPulseAudio();
    void startPipeWire();
    // The process that speaks the PulseAudio protocol: the one to freeze.
    QProcess* protocolServer() const;

    QTemporaryDir folder_;
    const bool pipeWire_;
    // In starting order; stopped in the reverse one.
    std::vector<std::unique_ptr<QProcess>> daemons_;
    QString startError_;
    std::vector<std::unique_ptr<QProcess>> busy_;
};

} // namespace orvo::test
