// The screen on Wayland recorded into the H.264 segment, from three sources of 1280x720:
// - "GNOME portal": the stream of a real screen-cast portal (GNOME's backend casting a headless
//   mutter, as scripts/services.sh starts it; its dialog answered by tests/support/
//   portal_user.py), a still screen;
// - "test stream": a PipeWire source of the tests' own, made as a portal makes one, at 30
//   frames a second, moving for two seconds, then still;
// - "X11 grabber": the private X server's screen.
// For each: the first frame after the source is opened (and for the portal, its answer to the
// choice), the longest gap between frames in the file while the screen is still (goal: none
// over 1 s), and the CPU the recording takes per minute.
//
// bench_wayland_screen [SECONDS [SOURCES]]   (default 60 and "portal,stream,x11"; the goal is
// measured over 600). Needs PipeWire (XDG_RUNTIME_DIR), the portal on the session bus, and an X
// display (DISPLAY); a source whose service is missing is skipped.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QProcess>
#include <QRect>
#include <QTemporaryDir>
#include <sys/resource.h>
#include <unistd.h>

#include "platform/linux/capture/CaptureQuality.h"
#include "platform/linux/capture/LinuxCaptureInputs.h"
#include "platform/linux/capture/LinuxCaptureSession.h"
#include "platform/linux/capture/LinuxMovieFileOutput.h"
#include "platform/linux/capture/ScreenCastPortal.h"
#include "platform/linux/capture/ScreenSource.h"
#include "platform/linux/media/FFmpegHandles.h"
#include "support/PipeWireVideoSource.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int width = 1280;
constexpr int height = 720;

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

class Finish final : public orvo::CaptureFileOutputRecordingDelegate {
public:
    void fileOutputDidFinishRecording(orvo::CaptureFileOutput&, const QString&,
                                      const std::optional<orvo::CaptureError>& error) override {
        std::lock_guard lock(mutex_);
        done_ = true;
        error_ = error;
    }
    bool wait() {
        for (int i = 0; i < 1000; ++i) {
            {
                std::lock_guard lock(mutex_);
                if (done_) {
                    return !error_;
                }
            }
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

private:
    std::mutex mutex_;
    bool done_ = false;
    std::optional<orvo::CaptureError> error_;
};

// The times of the video track's frames, in seconds.
std::vector<double> frameTimes(const QString& path) {
    std::vector<double> times;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.toLocal8Bit().constData(), nullptr, nullptr) < 0) {
        return times;
    }
    orvo::ffmpeg::InputContext input(raw);
    avformat_find_stream_info(input.get(), nullptr);
    const int video = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    orvo::ffmpeg::Packet packet = orvo::ffmpeg::makePacket();
    while (video >= 0 && av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index == video && packet->pts != AV_NOPTS_VALUE) {
            times.push_back(double(packet->pts) * av_q2d(input->streams[video]->time_base));
        }
        av_packet_unref(packet.get());
    }
    std::sort(times.begin(), times.end());
    return times;
}

// From opening the source to its first frame.
double firstFrameMs(const orvo::LinuxScreenInput& input) {
    orvo::ScreenSource source;
    const auto opened = Clock::now();
    if (source.open(input, orvo::captureQuality(orvo::SessionPreset::low).videoFrameRate)) {
        return -1;
    }
    QString error;
    return source.grab(&error) != nullptr
               ? std::chrono::duration<double, std::milli>(Clock::now() - opened).count()
               : -1;
}

struct Figures {
    double firstFrameMs = -1;
    double longestGapSeconds = -1;
    std::size_t frames = 0;
    double cpuPercentOfCore = -1;
};

Figures measure(const std::shared_ptr<orvo::LinuxScreenInput>& input, double seconds,
                orvo::test::PipeWireVideoSource* moving) {
    Figures figures;
    figures.firstFrameMs = firstFrameMs(*input);
    auto output = std::make_shared<orvo::LinuxMovieFileOutput>();
    orvo::LinuxCaptureSession session;
    session.addInputWithNoConnections(input);
    session.addOutputWithNoConnections(output);
    session.addConnection(std::make_shared<orvo::CaptureConnection>(input, output));
    const QTemporaryDir folder;
    const QString path = folder.filePath("screen.mov");
    Finish finish;
    session.startRunning();
    std::this_thread::sleep_for(500ms);
    const double cpuBefore = cpuSeconds();
    const auto started = Clock::now();
    output->startRecording(path, orvo::CaptureFileType::quickTimeMovie, finish);
    std::this_thread::sleep_for(2s);
    if (moving != nullptr) {
        moving->setRunning(false);
    }
    std::this_thread::sleep_until(started + std::chrono::duration<double>(seconds));
    output->stopRecording();
    const bool written = finish.wait();
    const double wall = std::chrono::duration<double>(Clock::now() - started).count();
    figures.cpuPercentOfCore = (cpuSeconds() - cpuBefore) / wall * 100;
    session.stopRunning();
    if (!written) {
        return figures;
    }
    const std::vector<double> times = frameTimes(path);
    figures.frames = times.size();
    figures.longestGapSeconds = 0;
    for (std::size_t i = 1; i < times.size(); ++i) {
        figures.longestGapSeconds = std::max(figures.longestGapSeconds, times[i] - times[i - 1]);
    }
    return figures;
}

void print(const char* name, const Figures& figures, double seconds) {
    std::printf("%s | %.1f ms | %.3f s | %zu frames (%.1f per second) | %.2f %% of a core\n", name,
                figures.firstFrameMs, figures.longestGapSeconds, figures.frames,
                double(figures.frames) / seconds, figures.cpuPercentOfCore);
}

void measureThePortal(double seconds) {
    if (!orvo::ScreenCastPortal::version()) {
        std::printf("GNOME portal | no portal on the session bus\n");
        return;
    }
    QProcess user;
    user.start(QStringLiteral(ORVO_PORTAL_USER), {QStringLiteral("share")});
    user.waitForReadyRead(10000);
    const auto asked = Clock::now();
    auto answer = orvo::ScreenCastPortal::open(std::nullopt, 60s);
    const double answerMs = std::chrono::duration<double, std::milli>(Clock::now() - asked).count();
    user.waitForFinished(10000);
    if (!std::holds_alternative<orvo::ScreenCastPortal::Session>(answer)) {
        std::printf("GNOME portal | refused: %s\n",
                    qPrintable(std::get<orvo::ScreenCastPortal::Refusal>(answer).message));
        return;
    }
    std::printf("GNOME portal: the choice answered in %.0f ms (the dialog included)\n", answerMs);
    auto screen = std::make_shared<orvo::PortalScreen>(
        std::move(std::get<orvo::ScreenCastPortal::Session>(answer)));
    print("GNOME portal",
          measure(std::make_shared<orvo::LinuxScreenInput>(screen), seconds, nullptr), seconds);
}

void measureTheTestStream(double seconds) {
    orvo::test::PipeWireVideoSource source(width, height);
    source.setGrey(90);
    const int remote = orvo::test::pipeWireRemote();
    if (source.node() == SPA_ID_INVALID || remote < 0) {
        std::printf("test stream | no PipeWire in XDG_RUNTIME_DIR\n");
        return;
    }
    orvo::ScreenCastPortal::Session portal;
    portal.nodeId = source.node();
    portal.pipeWire = QDBusUnixFileDescriptor(remote);
    close(remote);
    print("test stream",
          measure(std::make_shared<orvo::LinuxScreenInput>(
                      std::make_shared<orvo::PortalScreen>(portal)),
                  seconds, &source),
          seconds);
}

void measureX11(double seconds) {
    const QString display = qEnvironmentVariable("DISPLAY");
    if (display.isEmpty()) {
        std::printf("X11 grabber | no X display\n");
        return;
    }
    print("X11 grabber",
          measure(std::make_shared<orvo::LinuxScreenInput>(display, QRect(0, 0, width, height)),
                  seconds, nullptr),
          seconds);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const double seconds = argc > 1 ? std::max(10.0, std::atof(argv[1])) : 60.0;
    const QStringList sources =
        QString::fromLocal8Bit(argc > 2 ? argv[2] : "portal,stream,x11").split(',');
    std::printf("%.0f s recordings of a %dx%d screen\n", seconds, width, height);
    std::printf("source | first frame | longest gap | frames | CPU while recording\n");
    if (sources.contains("portal")) {
        measureThePortal(seconds);
    }
    if (sources.contains("stream")) {
        measureTheTestStream(seconds);
    }
    if (sources.contains("x11")) {
        measureX11(seconds);
    }
    return 0;
}
