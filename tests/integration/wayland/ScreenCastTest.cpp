// The screen on Wayland: the frames of a PipeWire video stream as the screen recording reads
// them, and whole recordings of the screen chosen in the desktop's screen-cast portal. Runs in
// the private Wayland desktop of scripts/services.sh (orvo_start_wayland): PipeWire, and the
// portal casting a headless mutter's screen.
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include <QDir>
#include <QProcess>
#include <gtest/gtest.h>

#include "audio/AudioManager.h"
#include "integration/platform/MediaCheck.h"
#include "platform/Platform.h"
#include "platform/linux/capture/PipeWireScreenGrabber.h"
#include "platform/linux/capture/ScreenCastPortal.h"
#include "platform/linux/desktop/WaylandDisplays.h"
#include "platform/linux/sound/LinuxAudioHardware.h"
#include "recording/RecordManager.h"
#include "shell/API.h"
#include "shell/Localization.h"
#include "shell/SettingsManager.h"
#include "support/PipeWireVideoSource.h"
#include "support/RealRecording.h"
#include "support/StopOutcome.h"
#include "support/TestFiles.h"

namespace orvo {
namespace {

using namespace std::chrono_literals;

using test::PipeWireVideoSource;

constexpr int width = 64;
constexpr int height = 48;

std::uint8_t greyOf(const AVFrame& frame) {
    return frame.data[0][(frame.height / 2) * frame.linesize[0] + frame.width * 2];
}

TEST(PipeWireScreenGrabber, FramesComeAtTheCaptureRateAndTheLastRepeatsWhileTheScreenIsStill) {
    PipeWireVideoSource source(width, height);
    source.setGrey(40);
    const std::uint32_t node = source.node();
    ASSERT_NE(node, SPA_ID_INVALID);
    const int remote = test::pipeWireRemote();
    ASSERT_GE(remote, 0);
    PipeWireScreenGrabber grabber;
    ASSERT_FALSE(grabber.open(remote, node, 10));
    QString error;
    ffmpeg::Frame first = grabber.grab(&error);
    ASSERT_NE(first, nullptr) << qPrintable(error);
    EXPECT_EQ(first->width, width);
    EXPECT_EQ(first->height, height);
    EXPECT_EQ(first->format, AV_PIX_FMT_BGR0);
    EXPECT_EQ(grabber.size(), QSize(width, height));
    EXPECT_EQ(greyOf(*first), 40);

    // A still screen sends nothing new: its last picture keeps the rate.
    source.setRunning(false);
    std::this_thread::sleep_for(100ms);
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; ++i) {
        ffmpeg::Frame still = grabber.grab(&error);
        ASSERT_NE(still, nullptr) << qPrintable(error);
        EXPECT_EQ(greyOf(*still), 40);
    }
    // Ten frames at 10 per second, the first due at once: never in a burst.
    EXPECT_GE(std::chrono::steady_clock::now() - started, 850ms);

    // The screen changes: the next frames show it.
    source.setGrey(200);
    source.setRunning(true);
    bool changed = false;
    for (int i = 0; i < 20 && !changed; ++i) {
        ffmpeg::Frame next = grabber.grab(&error);
        ASSERT_NE(next, nullptr) << qPrintable(error);
        changed = greyOf(*next) == 200;
    }
    EXPECT_TRUE(changed);
}

// The picture's middle brightness (luma) of every frame of a file's video track.
std::vector<int> lumaOfFrames(const QString& path, QSize* size) {
    std::vector<int> lumas;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.toLocal8Bit().constData(), nullptr, nullptr) < 0) {
        return lumas;
    }
    ffmpeg::InputContext input(raw);
    avformat_find_stream_info(input.get(), nullptr);
    const int video = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video < 0) {
        return lumas;
    }
    QString error;
    ffmpeg::CodecContext decoder = ffmpeg::openDecoder(input->streams[video], &error);
    *size = QSize(input->streams[video]->codecpar->width, input->streams[video]->codecpar->height);
    ffmpeg::Packet packet = ffmpeg::makePacket();
    ffmpeg::Frame frame = ffmpeg::makeFrame();
    const auto drain = [&] {
        while (avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
            lumas.push_back(
                frame->data[0][(frame->height / 2) * frame->linesize[0] + frame->width / 2]);
        }
    };
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index == video) {
            avcodec_send_packet(decoder.get(), packet.get());
            drain();
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(decoder.get(), nullptr);
    drain();
    return lumas;
}

// The user at the portal's dialog, a process of its own while the program waits for the portal.
class PortalUser {
public:
    explicit PortalUser(const QString& answer) {
        process_.start(QStringLiteral(ORVO_PORTAL_USER), {answer});
        // Ready once it knows the dialogs already there, so that only a new one counts.
        while (!said_.contains("ready") && process_.waitForReadyRead(10000)) {
            said_ += QString::fromUtf8(process_.readAll());
        }
    }
    ~PortalUser() { outcome(); }
    PortalUser(const PortalUser&) = delete;
    PortalUser& operator=(const PortalUser&) = delete;

    // 0 when it answered as asked ("none": no dialog came).
    int outcome() {
        if (!process_.waitForFinished(40000) && process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished();
        }
        said_ += QString::fromUtf8(process_.readAll());
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    std::string said() const { return said_.toStdString(); }

private:
    QProcess process_;
    QString said_;
};

// The screen the portal casts, filled with one grey by a Wayland client of that compositor.
class CastScreen {
public:
    explicit CastScreen(int grey) {
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("WAYLAND_DISPLAY", qEnvironmentVariable("ORVO_CAST_WAYLAND_DISPLAY"));
        environment.insert("QT_QPA_PLATFORM", "wayland");
        painter_.setProcessEnvironment(environment);
        painter_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        painter_.start(QStringLiteral(ORVO_SCREEN_PAINTER), {QString::number(grey)});
    }
    ~CastScreen() {
        painter_.closeWriteChannel();
        if (!painter_.waitForFinished(3000)) {
            painter_.kill();
            painter_.waitForFinished();
        }
    }
    CastScreen(const CastScreen&) = delete;
    CastScreen& operator=(const CastScreen&) = delete;

    void paint(int grey) { painter_.write(QByteArray("grey ") + QByteArray::number(grey) + "\n"); }
    bool shows(int grey) {
        const QByteArray line = "shown " + QByteArray::number(grey);
        return test::waitUntil(
            [&] {
                painter_.waitForReadyRead(50);
                shown_ += painter_.readAll();
                return shown_.contains(line);
            },
            10000);
    }

private:
    QProcess painter_;
    QByteArray shown_;
};

// Whole recordings of the screen that the user chooses in the desktop's portal.
class PortalRecordingTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("ORVO_DRIVER_TEST_ROOT"))
            << "run under scripts/test, which installs the driver";
        test::startFromEmptyRecordFolders();
        SettingsManager::shared().writeValueSetting("", RecordManager::screenCastTokenKey);
        LinuxAudioHardware::Options options;
        options.driverRoot = qEnvironmentVariable("ORVO_DRIVER_TEST_ROOT");
        test::installRecordingBackends(options);
        Platform::shared().install<Displays>(std::make_unique<WaylandDisplays>());
    }
    void TearDown() override { Platform::shared().clear(); }

    // A screen recording asked for while the user gives that answer to the desktop's dialog
    // ("none": no dialog may come).
    static std::shared_ptr<RecordManager> startAnswering(const QString& answer,
                                                         std::optional<QString>* refusal) {
        PortalUser user(answer);
        std::optional<AudioCaptureDevice> microphone;
        for (const auto& device : AudioManager::inputAudioDevices()) {
            if (device.uniqueID == "microphone") {
                microphone = device;
            }
        }
        auto manager =
            RecordManager::create({microphone, AudioManager::driverCaptureDevice()}, true,
                                  SessionPreset::low, WaylandDisplays::chosenScreen, refusal);
        EXPECT_EQ(user.outcome(), 0) << user.said();
        return manager;
    }

    // The saved file's video frames, after its tracks are checked.
    std::vector<int> stopAndReadFrames(RecordManager& manager) {
        EXPECT_TRUE(outcome_.stopAndWait(manager, 30000));
        EXPECT_TRUE(outcome_.success());
        outcome_.reset();
        const QString path = API::videoRecordsPath() + manager.fileName();
        // The mix, the sides, then the screen.
        EXPECT_EQ(test::probe(path).streamTypes, QStringList({"audio", "audio", "audio", "video"}));
        QSize size;
        auto lumas = lumaOfFrames(path, &size);
        EXPECT_EQ(size, QSize(1280, 720)) << "the compositor's output";
        return lumas;
    }

    test::StopOutcome outcome_;
};

TEST_F(PortalRecordingTest, TheChosenScreenIsRecordedAsItChangesAndTheNextRecordingAsksNothing) {
    const auto version = ScreenCastPortal::version();
    ASSERT_TRUE(version.has_value()) << "no screen-cast portal on the private session bus";
    EXPECT_GE(*version, 4u) << "restore tokens need version 4";
    CastScreen screen(40);
    ASSERT_TRUE(screen.shows(40));

    std::optional<QString> refusal;
    auto manager = startAnswering("share", &refusal);
    ASSERT_NE(manager, nullptr) << qPrintable(refusal.value_or("no refusal"));
    manager->startRecord();
    test::runEventLoopFor(2500);
    screen.paint(200);
    ASSERT_TRUE(screen.shows(200));
    test::runEventLoopFor(2500);
    std::vector<int> lumas = stopAndReadFrames(*manager);
    // Five seconds at the capture's rate, the screen as it was, then as it became.
    ASSERT_GE(lumas.size(), 30u);
    EXPECT_LT(lumas.front(), 80);
    EXPECT_GT(lumas.back(), 160);
    EXPECT_FALSE(SettingsManager::shared().getValue(RecordManager::screenCastTokenKey).isEmpty());

    // The desktop remembers the choice: no dialog the second time.
    manager = startAnswering("none", &refusal);
    ASSERT_NE(manager, nullptr) << qPrintable(refusal.value_or("no refusal"));
    manager->startRecord();
    test::runEventLoopFor(1500);
    lumas = stopAndReadFrames(*manager);
    ASSERT_FALSE(lumas.empty());
    EXPECT_GT(lumas.front(), 160);
}

TEST_F(PortalRecordingTest, AScreenTheUserDoesNotChooseStartsNothingAndSaysWhy) {
    std::optional<QString> refusal;
    const auto manager = startAnswering("cancel", &refusal);
    EXPECT_EQ(manager, nullptr);
    EXPECT_EQ(refusal, Localization::text("SCREEN_CHOICE_CANCELLED"));
    EXPECT_TRUE(QDir(API::videoRecordsPath()).entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(QDir(API::audioRecordsPath()).entryList(QDir::Files).isEmpty());
}

} // namespace
} // namespace orvo
