#include "support/PrivateSoundServer.h"

#include <signal.h>

#include <QDir>
#include <QFile>

#include "shell/Bundle.h"
#include "support/TestFiles.h"

namespace orvo::test {
namespace {
constexpr int startTimeoutMs = 10000;
constexpr int commandTimeoutMs = 20000;

// The test devices, one command of the PulseAudio protocol each.
const QStringList& testDevices() {
    static const QStringList commands = {
        "load-module module-null-sink sink_name=speakers "
        "sink_properties=\"device.description='Speakers'\"",
        "load-module module-null-sink sink_name=microphone_feed "
        "sink_properties=\"device.description='Microphone feed'\"",
        "load-module module-remap-source source_name=microphone master=microphone_feed.monitor "
        "source_properties=\"device.description='Microphone'\"",
        // Two switches: the session manager took one it would not have made itself, so it
        // follows the defaults the tests set.
        "set-default-sink microphone_feed",
        "set-default-sink speakers",
        "set-default-source microphone",
    };
    return commands;
}

// pactl's arguments for one such command: the module's arguments stay one argument.
QStringList pactlArguments(const QString& command) {
    const QStringList words = command.split(' ');
    if (words.size() > 2 && words[0] == "load-module") {
        return {words[0], words[1], words.mid(2).join(' ')};
    }
    return words;
}

} // namespace

PrivateSoundServer::PrivateSoundServer()
    : pipeWire_(qEnvironmentVariable("ORVO_SOUND_SERVER") == "pipewire") {
    if (!folder_.isValid()) {
        startError_ = "no temporary folder";
        return;
    }
    QFile::setPermissions(folder_.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    start();
}

void PrivateSoundServer::start() {
    startError_.clear();
    if (pipeWire_) {
        startPipeWire();
    } else {
        startPulseAudio();
    }
    if (!startError_.isEmpty()) {
        return;
    }
    const bool answers =
        waitUntil([this] { return protocolServer() != nullptr && !pactl({"info"}).isEmpty(); },
                  startTimeoutMs);
    if (!answers) {
        startError_ = "the sound server does not answer: " +
                      QString::fromUtf8(readFile(folder_.filePath("server.log")));
        return;
    }
    // PipeWire's server reads no PulseAudio configuration: the devices come through pactl.
    const auto succeeds = [this](const QString& command) {
        QProcess process;
        process.setProcessEnvironment(environment());
        process.start("pactl", pactlArguments(command));
        return process.waitForFinished(commandTimeoutMs) && process.exitCode() == 0;
    };
    // PipeWire's session manager makes a default once it has seen the new device, and one asked
    // for while it starts may be lost: a default is asked for until the server reports it.
    const auto becomesDefault = [&](const QString& command) {
        const QStringList words = command.split(' ');
        const QString asked = words.last();
        const QString reported = QString(words.first()).replace("set-", "get-");
        return succeeds(command) && pactl({reported}).trimmed() == asked;
    };
    for (const QString& command : pipeWire_ ? testDevices() : QStringList()) {
        const bool done = command.startsWith("load-module")
                              ? succeeds(command)
                              : waitUntil([&] { return becomesDefault(command); }, startTimeoutMs);
        if (!done) {
            startError_ = "pactl " + command + " failed; sinks:\n" +
                          pactl({"list", "short", "sinks"}) + "log:\n" +
                          QString::fromUtf8(readFile(folder_.filePath("server.log")));
            return;
        }
    }
}

void PrivateSoundServer::startPulseAudio() {
    const QString config = folder_.filePath("default.pa");
    // Also the drop-ins that the driver's install script puts under driverRoot(), as the
    // system's configuration includes them: a restart finds the driver there.
    writeFile(config, ("load-module module-native-protocol-unix auth-anonymous=1 socket=" +
                       folder_.filePath("native") + "\n" + testDevices().join('\n') +
                       "\n.nofail\n.include " + driverRoot() + "/etc/pulse/default.pa.d\n")
                          .toUtf8());
    auto daemon = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", folder_.path());
    daemon->setProcessEnvironment(environment);
    daemon->setStandardOutputFile(QProcess::nullDevice());
    daemon->setStandardErrorFile(folder_.filePath("server.log"));
    daemon->start("pulseaudio", {"-n", "-F", config, "--daemonize=no", "--exit-idle-time=-1",
                                 "--disallow-exit", "--disable-shm=yes", "--system=false"});
    if (!daemon->waitForStarted()) {
        startError_ = "pulseaudio: " + daemon->errorString();
    }
    daemons_.push_back(std::move(daemon));
}

// A session bus (WirePlumber wants one), PipeWire, WirePlumber and pipewire-pulse. Their
// configuration also comes from driverRoot()'s etc/pipewire, where the driver's install
// script puts its drop-in: a restart finds the driver there, as on a user's machine.
void PrivateSoundServer::startPipeWire() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", folder_.path());
    environment.insert("XDG_CONFIG_HOME", driverRoot() + "/etc");
    environment.insert("XDG_STATE_HOME", folder_.filePath("state"));
    environment.insert("PULSE_SERVER", QString::fromUtf8(address()));
    auto bus = std::make_unique<QProcess>();
    // In our folder: the session bus listens in /tmp otherwise and leaves its socket there.
    bus->start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=1",
                               "--address=unix:dir=" + folder_.path()});
    const bool busAnswers = bus->waitForStarted() && bus->waitForReadyRead(startTimeoutMs);
    const QString busAddress = QString::fromUtf8(bus->readLine()).trimmed();
    daemons_.push_back(std::move(bus));
    if (!busAnswers || busAddress.isEmpty()) {
        startError_ = "dbus-daemon did not start";
        return;
    }
    environment.insert("DBUS_SESSION_BUS_ADDRESS", busAddress);
    // A killed PipeWire leaves its socket: a restart must not take it for the new one, or
    // WirePlumber connects before anyone listens and gives up.
    for (const char* stale :
         {"pipewire-0", "pipewire-0.lock", "pipewire-0-manager", "pipewire-0-manager.lock"}) {
        QFile::remove(folder_.filePath(stale));
    }
    for (const char* program : {"pipewire", "wireplumber", "pipewire-pulse"}) {
        auto daemon = std::make_unique<QProcess>();
        daemon->setProcessEnvironment(environment);
        daemon->setStandardOutputFile(QProcess::nullDevice());
        daemon->setStandardErrorFile(folder_.filePath("server.log"), QIODevice::Append);
        daemon->start(program, {});
        if (!daemon->waitForStarted()) {
            startError_ = QString(program) + ": " + daemon->errorString();
        }
        daemons_.push_back(std::move(daemon));
        // The others connect to PipeWire's socket once, at their start.
        if (QString(program) == "pipewire" &&
            !waitUntil([&] { return QFile::exists(folder_.filePath("pipewire-0")); },
                       startTimeoutMs)) {
            startError_ = "pipewire made no socket";
            return;
        }
    }
}

QProcess* PrivateSoundServer::protocolServer() const {
    if (daemons_.empty() || daemons_.back()->state() != QProcess::Running) {
        return nullptr;
    }
    return daemons_.back().get();
}

void PrivateSoundServer::keepBusy(const QString& sink) {
    auto player = std::make_unique<QProcess>();
    player->setProcessEnvironment(environment());
    player->start("pacat",
                  {"--playback", "--device=" + sink, "--latency-msec=20", "--raw", "/dev/zero"});
    player->waitForStarted();
    busy_.push_back(std::move(player));
}

PrivateSoundServer::~PrivateSoundServer() {
    stop();
}

QByteArray PrivateSoundServer::address() const {
    return "unix:" + folder_.filePath(pipeWire_ ? "pulse/native" : "native").toUtf8();
}

QString PrivateSoundServer::driverRoot() const {
    return folder_.filePath("root");
}

QProcessEnvironment PrivateSoundServer::environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PULSE_SERVER", QString::fromUtf8(address()));
    environment.insert("ORVO_DRIVER_TEST_ROOT", driverRoot());
    // The scripts serve the user who asked for them: here, the test itself.
    environment.remove("SUDO_UID");
    environment.remove("PKEXEC_UID");
    return environment;
}

QString PrivateSoundServer::pactl(const QStringList& arguments) const {
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start("pactl", arguments);
    if (!process.waitForFinished(commandTimeoutMs) ||
        process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        return QString();
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString PrivateSoundServer::runDriverScript(const QString& name) const {
    QProcess process;
    process.setProcessEnvironment(environment());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start("/bin/sh", {Bundle::resourceDirectory() + "/" + name + ".sh"});
    const bool finished = process.waitForFinished(commandTimeoutMs);
    const QString output = QString::fromUtf8(process.readAll());
    if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        return output.isEmpty() ? QStringLiteral("failed") : output;
    }
    return QString();
}

void PrivateSoundServer::freeze() {
    if (QProcess* server = protocolServer()) {
        ::kill(pid_t(server->processId()), SIGSTOP);
    }
}

void PrivateSoundServer::thaw() {
    if (QProcess* server = protocolServer()) {
        ::kill(pid_t(server->processId()), SIGCONT);
    }
}

void PrivateSoundServer::stop() {
    for (const auto& player : busy_) {
        player->kill();
        player->waitForFinished();
    }
    busy_.clear();
    thaw();
    while (!daemons_.empty()) {
        QProcess& daemon = *daemons_.back();
        if (daemon.state() != QProcess::NotRunning) {
            daemon.kill();
            daemon.waitForFinished();
        }
        daemons_.pop_back();
    }
}

} // namespace orvo::test
