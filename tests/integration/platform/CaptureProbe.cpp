// Records the microphone, the speakers' monitor and the screen until it is killed: the
// segments a killed recording leaves behind. Usage: capture_probe <folder>
#include <chrono>
#include <cstdio>
#include <thread>

#include "integration/platform/MediaCheck.h"
#include "platform/Platform.h"
#include "platform/linux/capture/LinuxCapture.h"
#include "platform/linux/sound/LinuxAudioHardware.h"

namespace {

class Ignore final : public orvo::CaptureFileOutputRecordingDelegate {
public:
    void fileOutputDidFinishRecording(orvo::CaptureFileOutput&, const QString&,
                                      const std::optional<orvo::CaptureError>&) override {}
};

} // namespace

int main(int argc, char* argv[]) {
    using namespace orvo;
    if (argc != 2) {
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    Platform::shared().install<Displays>(std::make_unique<test::RootScreenDisplays>());
    auto hardware = std::make_unique<LinuxAudioHardware>();
    LinuxCapture capture(*hardware);
    Platform::shared().install<AudioHardware>(std::move(hardware));
    auto session = capture.makeSession();
    // Low: the screen encoder leaves the machine to the other tests.
    session->setSessionPreset(SessionPreset::low);
    struct Source {
        std::shared_ptr<CaptureInput> input;
        std::shared_ptr<CaptureFileOutput> output;
        QString name;
    };
    const std::vector<Source> sources = {
        {capture.makeDeviceInput("microphone"), capture.makeAudioFileOutput(), "probe_0.m4a"},
        {capture.makeDeviceInput("speakers.monitor"), capture.makeAudioFileOutput(), "probe_1.m4a"},
        {capture.makeScreenInput(test::RootScreenDisplays::rootDisplayID, {}),
         capture.makeMovieFileOutput(), "probe_2.mov"},
    };
    for (const Source& source : sources) {
        if (!source.input || !session->addInputWithNoConnections(source.input) ||
            !session->addOutputWithNoConnections(source.output) ||
            !session->addConnection(
                std::make_shared<CaptureConnection>(source.input, source.output))) {
            std::fprintf(stderr, "cannot capture %s\n", qPrintable(source.name));
            return 1;
        }
    }
    Ignore ignore;
    session->startRunning();
    for (const Source& source : sources) {
        const CaptureFileType type = source.output->mediaType() == CaptureMediaType::video
                                         ? CaptureFileType::quickTimeMovie
                                         : CaptureFileType::appleM4A;
        source.output->startRecording(folder + "/" + source.name, type, ignore);
    }
    std::printf("recording\n");
    std::fflush(stdout);
    // Until the test kills this process.
    std::this_thread::sleep_for(std::chrono::minutes(10));
    return 3;
}
