// The screen on Wayland: the desktop's screen-cast portal asked over D-Bus, and the frames of a
// PipeWire video stream as the screen recording reads them. Runs in the private Wayland
// desktop of scripts/services.sh (orvo_start_wayland): headless sway, PipeWire and the portal.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/Platform.h"
#include "platform/linux/capture/LinuxCapture.h"
#include "platform/linux/capture/LinuxCaptureInputs.h"
#include "platform/linux/capture/LinuxCaptureSession.h"
#include "platform/linux/capture/LinuxMovieFileOutput.h"
#include "platform/linux/capture/PipeWireScreenGrabber.h"
#include "platform/linux/capture/ScreenCastPortal.h"
#include "platform/linux/desktop/WaylandDisplays.h"
#include "platform/linux/sound/LinuxAudioHardware.h"
#include "recording/RecordManager.h"
#include "shell/CopyFiles.h"
#include "shell/Localization.h"
#include "support/PipeWireVideoSource.h"

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

TEST(ScreenCastPortal, ThePortalAnswersAndAChoiceTheUserRefusesIsCancelled) {
    const auto version = ScreenCastPortal::version();
    ASSERT_TRUE(version.has_value()) << "no screen-cast portal on the private session bus";
    EXPECT_GE(*version, 4u);

    const QString refuse = qEnvironmentVariable("ORVO_PORTAL_REFUSE");
    ASSERT_FALSE(refuse.isEmpty());
    QFile(refuse).open(QIODevice::WriteOnly);
    const auto refused = ScreenCastPortal::open(std::nullopt, 20s);
    QFile::remove(refuse);
    ASSERT_TRUE(std::holds_alternative<ScreenCastPortal::Refusal>(refused));
    EXPECT_EQ(std::get<ScreenCastPortal::Refusal>(refused).failure,
              ScreenCastPortal::Failure::cancelled);
}

// The finish of one recording, from the output's thread.
class Finish final : public CaptureFileOutputRecordingDelegate {
public:
    void fileOutputDidFinishRecording(CaptureFileOutput&, const QString&,
                                      const std::optional<CaptureError>& error) override {
        std::lock_guard lock(mutex_);
        finished_ = true;
        error_ = error;
    }
    bool waitFor(std::chrono::milliseconds timeout) {
        for (auto until = std::chrono::steady_clock::now() + timeout;
             std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(20ms)) {
            std::lock_guard lock(mutex_);
            if (finished_) {
                return true;
            }
        }
        return false;
    }
    std::optional<CaptureError> error() {
        std::lock_guard lock(mutex_);
        return error_;
    }

private:
    std::mutex mutex_;
    bool finished_ = false;
    std::optional<CaptureError> error_;
};

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

TEST(WaylandScreenRecording, TheStreamOfAPortalScreenIsRecordedAtItsSizeAndFollowsTheScreen) {
    PipeWireVideoSource source(width, height);
    source.setGrey(40);
    const std::uint32_t node = source.node();
    ASSERT_NE(node, SPA_ID_INVALID);
    const int remote = test::pipeWireRemote();
    ASSERT_GE(remote, 0);
    // The portal's answer, as Start and OpenPipeWireRemote give it.
    ScreenCastPortal::Session session;
    session.nodeId = node;
    session.pipeWire = QDBusUnixFileDescriptor(remote);
    close(remote);
    auto input = std::make_shared<LinuxScreenInput>(std::make_shared<PortalScreen>(session));
    auto output = std::make_shared<LinuxMovieFileOutput>();
    auto capture = std::make_unique<LinuxCaptureSession>();
    auto connection = std::make_shared<CaptureConnection>(input, output);
    ASSERT_TRUE(capture->addInputWithNoConnections(input));
    ASSERT_TRUE(capture->addOutputWithNoConnections(output));
    ASSERT_TRUE(capture->addConnection(connection));

    const QTemporaryDir folder;
    const QString path = folder.filePath("screen.mov");
    Finish finish;
    capture->startRunning();
    output->startRecording(path, CaptureFileType::quickTimeMovie, finish);
    std::this_thread::sleep_for(1500ms);
    source.setGrey(200);
    std::this_thread::sleep_for(1500ms);
    output->stopRecording();
    ASSERT_TRUE(finish.waitFor(10s));
    capture->stopRunning();
    ASSERT_FALSE(finish.error()) << qPrintable(finish.error()->localizedDescription);

    QSize size;
    const std::vector<int> lumas = lumaOfFrames(path, &size);
    EXPECT_EQ(size, QSize(width, height));
    // About three seconds at the capture's rate, the screen as it was, then as it became.
    ASSERT_GE(lumas.size(), 20u);
    EXPECT_LT(lumas.front(), 80);
    EXPECT_GT(lumas.back(), 160);
}

TEST(WaylandScreenRecording, AScreenTheUserDoesNotChooseStartsNothingAndSaysWhy) {
    CopyFiles::checkFilesAndCopy();
    LinuxAudioHardware hardware;
    Platform::shared().install<Displays>(std::make_unique<WaylandDisplays>());
    Platform::shared().install<Capture>(std::make_unique<LinuxCapture>(hardware));
    const QString refuse = qEnvironmentVariable("ORVO_PORTAL_REFUSE");
    ASSERT_FALSE(refuse.isEmpty());
    QFile(refuse).open(QIODevice::WriteOnly);
    std::optional<QString> refusal;
    const auto engine = RecordManager::create({}, true, SessionPreset::low,
                                              WaylandDisplays::chosenScreen, &refusal);
    QFile::remove(refuse);
    Platform::shared().clear();
    EXPECT_EQ(engine, nullptr);
    EXPECT_EQ(refusal, Localization::text("SCREEN_CHOICE_CANCELLED"));
}

} // namespace
} // namespace orvo
