#include "fakes/FakeCapture.h"

#include <condition_variable>

#include <gtest/gtest.h>

#include "fakes/FakeMedia.h"

namespace orvo {
namespace {

// The fakes must behave like the Linux backends where the recording engine relies on it.
class Recorded final : public CaptureFileOutputRecordingDelegate {
public:
    void fileOutputDidFinishRecording(CaptureFileOutput&, const QString& path,
                                      const std::optional<CaptureError>& error) override {
        std::lock_guard lock(mutex);
        paths.push_back(path);
        errors += error.has_value();
        threads.push_back(std::this_thread::get_id());
        changed.notify_all();
    }
    std::mutex mutex; // guards the fields below
    std::condition_variable changed;
    std::vector<QString> paths;
    std::vector<std::thread::id> threads;
    int errors = 0;
};

TEST(FakeCapture, FinishesStoppedOutputsOnceOnAnotherThread) {
    FakeCapture capture;
    capture.devices = {"mic"};
    EXPECT_EQ(capture.makeDeviceInput("other"), nullptr);
    EXPECT_EQ(capture.makeScreenInput(1), nullptr);
    auto session = capture.makeSession();
    auto input = capture.makeDeviceInput("mic");
    auto output = capture.makeAudioFileOutput();
    ASSERT_TRUE(session->addInputWithNoConnections(input));
    ASSERT_TRUE(session->addOutputWithNoConnections(output));
    ASSERT_TRUE(session->addConnection(std::make_shared<CaptureConnection>(input, output)));
    Recorded recorded;
    output->startRecording("/a_0.m4a", CaptureFileType::appleM4A, recorded);
    capture.audioOutputs[0]->state.finishError = CaptureError{CaptureErrorCode::sourceFailed, "x"};
    output->stopRecording();
    output->stopRecording();
    std::unique_lock lock(recorded.mutex);
    ASSERT_TRUE(recorded.changed.wait_for(lock, std::chrono::seconds(5),
                                          [&] { return !recorded.paths.empty(); }));
    EXPECT_EQ(recorded.paths, std::vector<QString>{"/a_0.m4a"});
    EXPECT_EQ(recorded.errors, 1);
    EXPECT_NE(recorded.threads[0], std::this_thread::get_id());
}

TEST(FakeMedia, ExportsWithTheChosenOutcomeOnAnotherThread) {
    FakeMedia media;
    media.outcome = ExportStatus::failed;
    auto session = media.makeExportSession(MediaComposition(), exportPresetAppleM4A);
    std::mutex mutex;
    std::condition_variable done;
    std::optional<ExportStatus> status;
    session->exportAsynchronously([&] {
        std::lock_guard lock(mutex);
        status = session->status();
        done.notify_all();
    });
    std::unique_lock lock(mutex);
    ASSERT_TRUE(done.wait_for(lock, std::chrono::seconds(5), [&] { return status.has_value(); }));
    EXPECT_EQ(*status, ExportStatus::failed);
    EXPECT_TRUE(session->errorMessage().has_value());
    media.refuseExport = true;
    EXPECT_EQ(media.makeExportSession(MediaComposition(), exportPresetAppleM4A), nullptr);
}

} // namespace
} // namespace orvo
