// The audio device layer and the driver scripts on a PulseAudio daemon of each test's own.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "SoundProbe.h"
#include "audio/AudioManager.h"
#include "audio/DriverScriptRunner.h"
#include "platform/Platform.h"
#include "platform/linux/sound/LinuxAudioHardware.h"
#include "shell/API.h"
#include "support/PrivateSoundServer.h"
#include "support/TestFiles.h"

namespace orvo {
namespace {

// A level this high is the test tone (about 0.35 at full volume); silence stays near 0.
constexpr double toneLevel = 0.1;
constexpr double silenceLevel = 0.01;
constexpr int measureMs = 1000;
constexpr int settleMs = 400;

// Sets environment variables of this process for the life of the object.
class EnvironmentScope {
public:
    explicit EnvironmentScope(const QProcessEnvironment& environment) {
        for (const char* name : {"PULSE_SERVER", "ORVO_DRIVER_TEST_ROOT"}) {
            qputenv(name, environment.value(name).toUtf8());
        }
        for (const char* name : {"SUDO_UID", "PKEXEC_UID"}) {
            if (qEnvironmentVariableIsSet(name)) {
                saved_.emplace_back(name, qgetenv(name));
                qunsetenv(name);
            }
        }
    }
    ~EnvironmentScope() {
        qunsetenv("PULSE_SERVER");
        qunsetenv("ORVO_DRIVER_TEST_ROOT");
        for (const auto& [name, value] : saved_) {
            qputenv(name, value);
        }
    }

private:
    std::vector<std::pair<const char*, QByteArray>> saved_;
};

// A Unix socket that takes connections and never answers: a hung sound server.
class SilentSocket {
public:
    explicit SilentSocket(const QString& path) : fd_(socket(AF_UNIX, SOCK_STREAM, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray native = path.toLocal8Bit();
        if (fd_ < 0 || native.size() >= int(sizeof(address.sun_path))) {
            return;
        }
        std::copy(native.begin(), native.end(), address.sun_path);
        listening_ = bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
                     listen(fd_, 8) == 0;
    }
    ~SilentSocket() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    SilentSocket(const SilentSocket&) = delete;
    SilentSocket& operator=(const SilentSocket&) = delete;
    bool listening() const { return listening_; }

private:
    int fd_;
    bool listening_ = false;
};

class AudioHardwareTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.startError().isEmpty()) << server.startError().toStdString();
        LinuxAudioHardware::Options options;
        options.server = server.address();
        options.driverRoot = server.driverRoot();
        Platform::shared().install<AudioHardware>(std::make_unique<LinuxAudioHardware>(options));
    }
    void TearDown() override { Platform::shared().clear(); }

    // The real script, run the way the program runs it when it can (as root), else with sh.
    QString runScript(const QString& name) {
        if (geteuid() != 0) {
            return server.runDriverScript(name);
        }
        EnvironmentScope scope(server.environment());
        return DriverScriptRunner::run(name).value_or(QString());
    }

    void installDriver() { ASSERT_EQ(server.runDriverScript("install_driver"), QString()); }

    static std::optional<AudioDeviceID> deviceWithUID(const QString& uid) {
        for (AudioDeviceID device : AudioManager::getAllDevices()) {
            if (AudioManager::getDeviceUUID(device) == uid) {
                return device;
            }
        }
        return std::nullopt;
    }

    static int aggregateCount() {
        int count = 0;
        for (AudioDeviceID device : AudioManager::getAllDevices()) {
            count += AudioManager::isAggregateDevice(device) ? 1 : 0;
        }
        return count;
    }

    static QStringList namesWithOrvo(bool outputs) {
        QStringList names;
        const auto devices =
            outputs ? AudioManager::getOutputDevices() : AudioManager::inputAudioDevicesID();
        for (const auto& [device, name] : devices.value_or(std::map<AudioDeviceID, QString>())) {
            if (name.contains("ORVO")) {
                names << name;
            }
        }
        return names;
    }

    static QStringList captureNamesWithOrvo() {
        QStringList names;
        for (const auto& device : AudioManager::inputAudioDevices()) {
            if (device.localizedName.contains("ORVO")) {
                names << device.localizedName + "=" + device.uniqueID;
            }
        }
        return names;
    }

    // On PipeWire the session manager makes the switch; on a loaded machine it has taken longer
    // than the wait of our request, which then returns with the switch still to come, and the
    // server does not always tell its clients: the wait asks it again.
    testing::AssertionResult defaultOutputBecomes(AudioDeviceID device) {
        if (Platform::shared().get<AudioHardware>().awaitDefaultOutput(device,
                                                                       std::chrono::seconds(10))) {
            return testing::AssertionSuccess();
        }
        // What the program sees beside it: an old view, or the device under another number.
        QString seen;
        for (const auto& [id, name] :
             AudioManager::getOutputDevices().value_or(std::map<AudioDeviceID, QString>{})) {
            seen += QString(" %1 (%2)").arg(id).arg(name);
        }
        return testing::AssertionFailure()
               << "the server's default output is "
               << server.pactl({"get-default-sink"}).trimmed().toStdString()
               << "; the program's is " << AudioManager::getDefaultOutputDevice() << " of"
               << seen.toStdString() << ", asked for " << device;
    }

    double level(const QString& source) {
        return test::loudestLevel(server.address(), source, measureMs, settleMs);
    }

    test::PrivateSoundServer server;
    AudioRoute route;
};

TEST_F(AudioHardwareTest, NothingIsCombinedWithoutTheDriverWhoseScriptsMakeAndRemoveItAll) {
    const QString pulseDropIn =
        server.driverRoot() + "/etc/pulse/default.pa.d/orvo-record-device.pa";
    const QString pipewireDropIn =
        server.driverRoot() + "/etc/pipewire/pipewire-pulse.conf.d/orvo-record-device.conf";
    ASSERT_TRUE(API::pathDriver().startsWith(server.driverRoot() + "/"));
    EXPECT_FALSE(QFileInfo::exists(API::pathDriver()));
    EXPECT_TRUE(namesWithOrvo(true).isEmpty());
    // Without the driver no combined output is made.
    const auto before = AudioManager::getAllDevices();
    EXPECT_EQ(AudioManager::createAggregateDeviceWithDefaultDevice(route), std::nullopt);
    EXPECT_EQ(AudioManager::getAllDevices(), before);
    EXPECT_TRUE(route.empty());

    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(runScript("install_driver"), QString()) << "run " << run;
        EXPECT_EQ(namesWithOrvo(true), QStringList{"ORVO Record Device"});
        EXPECT_EQ(namesWithOrvo(false), QStringList{"ORVO Record Device"});
        EXPECT_EQ(captureNamesWithOrvo(),
                  QStringList{"ORVO Record Device=orvo_record_device_input"});
        const auto driver = AudioManager::driverCaptureDevice();
        ASSERT_TRUE(driver.has_value());
        EXPECT_EQ(driver->localizedName, "ORVO Record Device");
        EXPECT_EQ(driver->uniqueID, "orvo_record_device.monitor") << "read at its output";
        EXPECT_TRUE(QFileInfo(API::pathDriver()).isDir());
        EXPECT_TRUE(QFileInfo(pulseDropIn).isFile());
        EXPECT_TRUE(QFileInfo(pipewireDropIn).isFile());
    }

    // A recording's combined output left behind by a killed program goes with the driver.
    ASSERT_EQ(AudioManager::createAggregateDeviceWithDefaultDevice(route),
              std::optional<AudioStatus>(noErr));
    AudioManager::setOutputDevice(route.aggregateDevice());

    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(runScript("uninstall_driver"), QString()) << "run " << run;
        EXPECT_EQ(aggregateCount(), 0);
        EXPECT_TRUE(namesWithOrvo(true).isEmpty());
        EXPECT_TRUE(captureNamesWithOrvo().isEmpty());
        EXPECT_FALSE(AudioManager::driverCaptureDevice().has_value());
        EXPECT_FALSE(QFileInfo::exists(API::pathDriver()));
        EXPECT_FALSE(QFileInfo::exists(pulseDropIn));
        EXPECT_FALSE(QFileInfo::exists(pipewireDropIn));
    }
    EXPECT_EQ(AudioManager::inputAudioDevices().size(), 1u) << "the microphone stays";
}

// The drop-ins make the devices again whenever the user's sound server starts.
TEST_F(AudioHardwareTest, TheDriverComesBackWhenTheServerStartsAgainUntilItIsRemoved) {
    const auto driverDevices = [this] {
        return server.pactl({"list", "short", "sinks"}).contains("\torvo_record_device\t") &&
               server.pactl({"list", "short", "sources"}).contains("\torvo_record_device_input\t");
    };
    installDriver();
    server.stop();
    server.start();
    ASSERT_TRUE(server.startError().isEmpty()) << server.startError().toStdString();
    EXPECT_TRUE(test::waitUntil(driverDevices, 5000));

    ASSERT_EQ(server.runDriverScript("uninstall_driver"), QString());
    server.stop();
    server.start();
    ASSERT_TRUE(server.startError().isEmpty()) << server.startError().toStdString();
    EXPECT_FALSE(test::waitUntil(driverDevices, 1000));
}

TEST_F(AudioHardwareTest, TheAggregateCarriesWhatPlaysToTheSpeakersAndTheDriver) {
    installDriver();
    const auto speakers = deviceWithUID("speakers");
    ASSERT_TRUE(speakers.has_value());
    ASSERT_EQ(AudioManager::getDefaultOutputDevice(), *speakers);

    // A call already playing before the recording starts.
    test::TonePlayer call(server.address());
    EXPECT_GT(level("speakers.monitor"), toneLevel);
    EXPECT_LT(level("orvo_record_device_input"), silenceLevel);

    ASSERT_EQ(AudioManager::createAggregateDeviceWithDefaultDevice(route),
              std::optional<AudioStatus>(noErr));
    const AudioDeviceID aggregate = route.aggregateDevice();
    EXPECT_EQ(route.userOutputDevice(), *speakers);
    EXPECT_TRUE(AudioManager::isAggregateDevice(aggregate));
    EXPECT_TRUE(AudioManager::isOutputDevice(aggregate));
    EXPECT_EQ(AudioManager::getOutputDevices()->at(aggregate), "ORVO Multi Device");
    EXPECT_EQ(AudioManager::getAggregateDeviceSubDeviceList(aggregate),
              (std::vector<AudioDeviceID>{*deviceWithUID("orvo_record_device"), *speakers}));

    EXPECT_EQ(AudioManager::switchToAggregate(route), noErr);
    EXPECT_EQ(AudioManager::getDefaultOutputDevice(), aggregate) << "confirmed by the server";
    EXPECT_GT(level("orvo_record_device_input"), toneLevel);
    EXPECT_GT(level("speakers.monitor"), toneLevel) << "the user still hears the call";
    EXPECT_TRUE(AudioManager::isUseDevice(aggregate));

    AudioManager::restoreRoute(route);
    EXPECT_EQ(aggregateCount(), 0);
    EXPECT_TRUE(defaultOutputBecomes(*speakers));
    EXPECT_GT(level("speakers.monitor"), toneLevel);
    EXPECT_LT(level("orvo_record_device_input"), silenceLevel);
}

// Null sinks have no ports: a test server shows only what a device says of its form. The route
// tells of the user's output, not of the combined one that is the default while recording.
TEST_F(AudioHardwareTest, TheRouteTellsWhatTheUserListensThrough) {
    installDriver();
    ASSERT_FALSE(server
                     .pactl({"load-module", "module-null-sink",
                             "sink_name=headphones sink_properties=device.form_factor=headphone"})
                     .isEmpty());
    ASSERT_TRUE(test::waitUntil([&] { return deviceWithUID("headphones").has_value(); }, 2000));
    const AudioDeviceID headphones = *deviceWithUID("headphones");
    EXPECT_EQ(Platform::shared().get<AudioHardware>().outputKind(*deviceWithUID("speakers")),
              OutputKind::unknown);
    AudioManager::setOutputDevice(headphones);
    ASSERT_TRUE(defaultOutputBecomes(headphones));

    ASSERT_EQ(AudioManager::createAggregateDeviceWithDefaultDevice(route),
              std::optional<AudioStatus>(noErr));
    ASSERT_EQ(AudioManager::switchToAggregate(route), noErr);
    EXPECT_EQ(AudioManager::userOutputKind(route), OutputKind::headphones);
    AudioManager::restoreRoute(route);
}

TEST_F(AudioHardwareTest, ALeftoverAggregateOfAKilledProcessGoesAtTheNextCreation) {
    installDriver();
    // It plays to an output that is gone: of no use to the next recording.
    ASSERT_FALSE(server
                     .pactl({"load-module", "module-combine-sink",
                             "sink_name=LEFTOVER slaves=orvo_record_device,speakers "
                             "sink_properties=\"device.description='ORVO Multi Device' "
                             "orvo.role=aggregate orvo.user_sink=headphones\""})
                     .isEmpty());
    // The device list follows the server's events, a moment after pactl.
    ASSERT_TRUE(test::waitUntil([&] { return deviceWithUID("LEFTOVER").has_value(); }, 2000));
    const auto leftover = deviceWithUID("LEFTOVER");
    ASSERT_TRUE(AudioManager::isAggregateDevice(*leftover));

    ASSERT_EQ(AudioManager::createAggregateDeviceWithDefaultDevice(route),
              std::optional<AudioStatus>(noErr));
    EXPECT_FALSE(deviceWithUID("LEFTOVER").has_value());
    EXPECT_EQ(aggregateCount(), 1);
    const auto uid = AudioManager::getDeviceUUID(route.aggregateDevice());
    EXPECT_EQ(uid->size(), 36);
    EXPECT_EQ(*uid, uid->toUpper());
    AudioManager::removeAggregateDeviceWithDefaultDevice(route);
    EXPECT_EQ(aggregateCount(), 0);
}

TEST_F(AudioHardwareTest, VolumesRoundTripOnTheSpeakersAndADeviceWithoutOneReadsZero) {
    const auto speakers = deviceWithUID("speakers");
    ASSERT_TRUE(speakers.has_value());
    EXPECT_NEAR(AudioManager::getVolumeDevice(*speakers), 1.0f, 0.001f);
    AudioManager::setVolumeDevice(0.3f, *speakers);
    EXPECT_NEAR(AudioManager::getVolumeDevice(*speakers), 0.3f, 0.001f);
    EXPECT_TRUE(server.pactl({"get-sink-volume", "speakers"}).contains("30%"))
        << server.pactl({"get-sink-volume", "speakers"}).toStdString();

    AudioManager::setDeviceVolume(*speakers, 0.2f, 0.6f);
    const auto channels = AudioManager::getDeviceVolume(*speakers);
    EXPECT_NEAR(channels[0], 0.2f, 0.001f);
    EXPECT_NEAR(channels[1], 0.6f, 0.001f);
    // The balance stays when the one volume changes.
    AudioManager::setVolumeDevice(0.6f, *speakers);
    EXPECT_NEAR(AudioManager::getVolumeDevice(*speakers), 0.6f, 0.001f);
    const auto scaled = AudioManager::getDeviceVolume(*speakers);
    EXPECT_NEAR(scaled[1] / scaled[0], 3.0f, 0.01f);

    const auto microphone = deviceWithUID("microphone");
    ASSERT_TRUE(microphone.has_value());
    EXPECT_FALSE(AudioManager::isOutputDevice(*microphone));
    EXPECT_EQ(AudioManager::getVolumeDevice(*microphone), 0.0f);
    EXPECT_EQ(AudioManager::getVolumeDevice(0), 0.0f);
}

TEST_F(AudioHardwareTest, AStoppedServerGivesEmptyResultsAndFailuresAtOnce) {
    const auto speakers = deviceWithUID("speakers");
    ASSERT_TRUE(speakers.has_value());
    // Waiting for a call timeout this long would fail the test below.
    const auto timeout = std::chrono::seconds(30);
    LinuxAudioHardware::Options options;
    options.server = server.address();
    options.callTimeout = timeout;
    Platform::shared().install<AudioHardware>(std::make_unique<LinuxAudioHardware>(options));
    ASSERT_FALSE(AudioManager::getAllDevices().empty());

    server.stop();
    QElapsedTimer elapsed;
    elapsed.start();
    // The device cache hears of the closed connection on a thread of its own; on a busy
    // machine that takes a moment.
    EXPECT_TRUE(test::waitUntil([] { return AudioManager::getAllDevices().empty(); }, 2000));
    EXPECT_TRUE(AudioManager::inputAudioDevices().empty());
    EXPECT_EQ(AudioManager::getOutputDevices(), std::nullopt);
    EXPECT_EQ(AudioManager::getDefaultOutputDevice(), 0u);
    EXPECT_EQ(AudioManager::getVolumeDevice(*speakers), 0.0f);
    EXPECT_EQ(AudioManager::getDeviceUUID(*speakers), std::optional<QString>(QString()));
    EXPECT_FALSE(AudioManager::isUseDevice(*speakers));
    EXPECT_EQ(AudioManager::createAggregateDeviceWithDefaultDevice(route), std::nullopt);
    EXPECT_NE(AudioManager::setOutputDevice(*speakers), noErr);
    AudioManager::setVolumeDevice(0.5f, *speakers);
    AudioManager::removeAggregateDeviceWithDefaultDevice(route);
    auto& hardware = Platform::shared().get<AudioHardware>();
    EXPECT_NE(hardware.setDefaultOutputDevice(*speakers), noErr);
    EXPECT_NE(hardware.createAggregateDevice({}).status, noErr);
    EXPECT_FALSE(dynamic_cast<LinuxAudioHardware&>(hardware).hasSource("microphone"));
    EXPECT_LT(elapsed.elapsed(), std::chrono::milliseconds(timeout).count());
}

// What a capture asks before it opens a source: a source made a moment ago counts, although
// the device cache may not have heard of it yet.
TEST_F(AudioHardwareTest, KnowsASourceMadeJustNowAndNoneThatIsMissing) {
    auto& hardware = dynamic_cast<LinuxAudioHardware&>(Platform::shared().get<AudioHardware>());
    EXPECT_TRUE(hardware.hasSource("microphone"));
    EXPECT_TRUE(hardware.hasSource("speakers.monitor"));
    EXPECT_FALSE(hardware.hasSource("no_such_source"));
    EXPECT_FALSE(hardware.hasSource(""));
    server.pactl({"load-module", "module-null-sink", "sink_name=just_made"});
    // PipeWire's server answers the load a moment before it lists the sink to anyone.
    if (server.isPipeWire()) {
        ASSERT_TRUE(test::waitUntil(
            [&] {
                return server.pactl({"list", "short", "sources"}).contains("just_made.monitor");
            },
            5000));
    }
    EXPECT_TRUE(hardware.hasSource("just_made.monitor"));
}

TEST_F(AudioHardwareTest, ADescriptionThatCouldLeaveItsQuotesIsRefused) {
    installDriver();
    const auto modulesBefore = server.pactl({"list", "short", "modules"});
    auto& hardware = Platform::shared().get<AudioHardware>();
    const QVariantList subDevices{QVariantMap{{"uid", "orvo_record_device"}},
                                  QVariantMap{{"uid", "speakers"}}};
    const QVariantMap good{{"name", "ORVO Multi Device"},
                           {"uid", "E49F0C0A-7D43-4C5E-9E1B-1F2A3B4C5D6E"},
                           {"subdevices", subDevices},
                           {"master", "speakers"},
                           {"stacked", 1}};
    for (const auto& [key, value] : std::vector<std::pair<QString, QVariant>>{
             {"name", "ORVO' sink_name=evil"},
             {"name", "ORVO\\"},
             {"uid", "A B"},
             // PipeWire's server would take it for object 4 when asked by name.
             {"uid", "4E9F0C0A-7D43-4C5E-9E1B-1F2A3B4C5D6E"},
             {"subdevices", QVariantList{QVariantMap{{"uid", "speakers slaves=x"}}}},
             {"subdevices", QVariantList{QVariantMap{{"uid", "no_such_sink"}}}},
             {"stacked", 0}}) {
        QVariantMap description = good;
        description[key] = value;
        EXPECT_NE(hardware.createAggregateDevice(description).status, noErr)
            << key.toStdString() << " " << value.toString().toStdString();
    }
    EXPECT_EQ(server.pactl({"list", "short", "modules"}), modulesBefore);

    const AggregateCreation created = hardware.createAggregateDevice(good);
    ASSERT_EQ(created.status, noErr);
    EXPECT_EQ(AudioManager::getDeviceUUID(created.device),
              std::optional<QString>("E49F0C0A-7D43-4C5E-9E1B-1F2A3B4C5D6E"));
    EXPECT_NE(hardware.destroyAggregateDevice(*deviceWithUID("speakers")), noErr);
    EXPECT_EQ(hardware.destroyAggregateDevice(created.device), noErr);
    EXPECT_EQ(server.pactl({"list", "short", "modules"}), modulesBefore);
}

TEST_F(AudioHardwareTest, AServerThatHangsWhileConnectedKeepsItsDevicesAndFailsChanges) {
    LinuxAudioHardware::Options options;
    options.server = server.address();
    options.callTimeout = std::chrono::milliseconds(300);
    LinuxAudioHardware hardware(options);
    const auto devices = hardware.devices();
    ASSERT_FALSE(devices.empty());
    const auto name = hardware.name(devices.front());

    server.freeze();
    // Reads answer at once from what the server said last; changes wait for their timeout.
    QElapsedTimer reading;
    reading.start();
    EXPECT_EQ(hardware.devices(), devices);
    EXPECT_EQ(hardware.name(devices.front()), name);
    EXPECT_FALSE(hardware.captureDevices().empty());
    EXPECT_EQ(hardware.setVirtualMainVolume(devices.front(), 0.5f), noErr);
    EXPECT_LT(reading.elapsed(), 100);
    // A server that does not answer is not a device that is missing.
    EXPECT_EQ(hardware.setDefaultOutputDevice(devices.front()), audioStatusTimeout);
    server.thaw();
}

TEST_F(AudioHardwareTest, AServerThatNeverAnswersFailsAfterTheCallTimeout) {
    QTemporaryDir folder;
    const SilentSocket silent(folder.filePath("native"));
    ASSERT_TRUE(silent.listening());
    LinuxAudioHardware::Options options;
    options.server = "unix:" + folder.filePath("native").toUtf8();
    options.callTimeout = std::chrono::milliseconds(200);
    LinuxAudioHardware hardware(options);

    EXPECT_TRUE(hardware.devices().empty());
    EXPECT_TRUE(hardware.captureDevices().empty());
    EXPECT_EQ(hardware.defaultOutputDevice(), std::nullopt);
    EXPECT_NE(hardware.setVirtualMainVolume(1, 0.5f), noErr);
}

TEST(DriverScriptRunner, RunsTheScriptPathAsOneArgumentAndReportsFailures) {
    EXPECT_EQ(DriverScriptRunner::commandFor("/a b/it's.sh", false),
              (QStringList{"pkexec", "/bin/sh", "/a b/it's.sh"}));
    EXPECT_EQ(DriverScriptRunner::commandFor("/a b/it's.sh", true),
              (QStringList{"/bin/sh", "/a b/it's.sh"}));
    if (geteuid() != 0) {
        GTEST_SKIP() << "running a script needs an administrator prompt unless run as root";
    }
    QTemporaryDir base;
    const QString folder = base.filePath("it's a \"dir\" $(touch x) ; with spaces");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString marker = base.filePath("marker");
    const QString good = folder + "/good.sh";
    test::writeFile(good, QStringLiteral("printf '%s' \"$0\" > '%1'\n").arg(marker).toUtf8());
    EXPECT_EQ(DriverScriptRunner::runScriptAtPath(good), std::nullopt);
    EXPECT_EQ(QString::fromUtf8(test::readFile(marker)), good);
    EXPECT_FALSE(QFileInfo::exists(QDir::current().filePath("x")));

    const QString bad = folder + "/bad.sh";
    test::writeFile(bad, "echo 'cannot place the drop-in' >&2\nexit 3\n");
    const auto error = DriverScriptRunner::runScriptAtPath(bad);
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->contains("cannot place the drop-in")) << error->toStdString();
    EXPECT_TRUE(error->contains("exit status 3")) << error->toStdString();
}

TEST(DriverScriptRunnerDeathTest, AMissingScriptStopsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(DriverScriptRunner::run("no_such_script"), "no_such_script");
}

} // namespace
} // namespace orvo
