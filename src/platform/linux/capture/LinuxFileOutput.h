#pragma once

#include <memory>

#include "platform/Capture.h"
#include "platform/linux/capture/LinuxCaptureOutput.h"

namespace orvo {

// The port's side of a Linux file output (PortOutput: the audio or the movie output): its
// recording operations become requests to the output's worker. Derived is the output itself.
template <class PortOutput, class Derived>
class LinuxFileOutput : public PortOutput,
                        public LinuxCaptureOutput,
                        public std::enable_shared_from_this<Derived> {
public:
    using PortOutput::startRecording;
    void startRecording(const QString& path, CaptureFileType fileType,
                        CaptureFileOutputRecordingDelegate& delegate) override {
        requestStart(path, fileType, delegate, *this);
    }
    void stopRecording() override { requestStop(); }
    bool isRecording() const override { return recordingNow(); }

private:
    std::shared_ptr<LinuxCaptureOutput> self() override { return this->shared_from_this(); }
};

} // namespace orvo
