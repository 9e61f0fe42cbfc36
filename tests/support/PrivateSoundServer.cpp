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
} // namespace

PrivateSoundServer::PrivateSoundServer() {
    if (!folder_.isValid()) {
        startError_ = "no temporary folder";
        return;
    }
    QFile::setPermissions(folder_.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString config = folder_.filePath("default.pa");
    writeFile(config,
              QStringLiteral("load-module module-native-protocol-unix auth-anonymous=1 socket=%1\n"
                             "load-module module-null-sink sink_name=speakers "
                             "sink_properties=\"device.description='Speakers'\"\n"
                             "load-module module-null-sink sink_name=microphone_feed "
                             "sink_properties=\"device.description='Microphone feed'\"\n"
                             "load-module module-remap-source source_name=microphone "
                             "master=microphone_feed.monitor "
                             "source_properties=\"device.description='Microphone'\"\n"
                             "set-default-sink speakers\n"
                             "set-default-source microphone\n")
                  .arg(folder_.filePath("native"))
                  .toUtf8());
    start();
}

void PrivateSoundServer::start() {
    startError_.clear();
    const QString config = folder_.filePath("default.pa");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", folder_.path());
    daemon_.setProcessEnvironment(environment);
    daemon_.setStandardOutputFile(QProcess::nullDevice());
    daemon_.setStandardErrorFile(folder_.filePath("pulseaudio.log"));
    daemon_.start("pulseaudio", {"-n", "-F", config, "--daemonize=no", "--exit-idle-time=-1",
                                 "--disallow-exit", "--disable-shm=yes", "--system=false"});
    if (!daemon_.waitForStarted()) {
        startError_ = "pulseaudio: " + daemon_.errorString();
        return;
    }
    const bool answers = waitUntil(
        [this] { return daemon_.state() == QProcess::Running && !pactl({"info"}).isEmpty(); },
        startTimeoutMs);
    if (!answers) {
        startError_ = "pulseaudio does not answer: " +
                      QString::fromUtf8(readFile(folder_.filePath("pulseaudio.log")));
    }
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
    return "unix:" + folder_.filePath("native").toUtf8();
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
    if (daemon_.state() == QProcess::Running) {
        ::kill(pid_t(daemon_.processId()), SIGSTOP);
    }
}

void PrivateSoundServer::thaw() {
    if (daemon_.state() == QProcess::Running) {
        ::kill(pid_t(daemon_.processId()), SIGCONT);
    }
}

void PrivateSoundServer::stop() {
    for (const auto& player : busy_) {
        player->kill();
        player->waitForFinished();
    }
    busy_.clear();
    if (daemon_.state() != QProcess::NotRunning) {
        thaw();
        daemon_.kill();
        daemon_.waitForFinished();
    }
}

} // namespace orvo::test
