// Records a call (the microphone and the driver's side) with RecordManager until it is killed;
// says "recording" once the segments are being written.
#include <QCoreApplication>
#include <QTimer>

#include "audio/AudioManager.h"
#include "platform/Platform.h"
#include "platform/linux/capture/LinuxCapture.h"
#include "platform/linux/media/FFmpegMedia.h"
#include "platform/linux/sound/LinuxAudioHardware.h"
#include "recording/RecordManager.h"
#include "shell/Console.h"
#include "shell/CopyFiles.h"

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    auto& platform = orvo::Platform::shared();
    orvo::LinuxAudioHardware::Options options;
    options.driverRoot = qEnvironmentVariable("ORVO_DRIVER_TEST_ROOT");
    auto hardware = std::make_unique<orvo::LinuxAudioHardware>(options);
    platform.install<orvo::Capture>(std::make_unique<orvo::LinuxCapture>(*hardware));
    platform.install<orvo::AudioHardware>(std::move(hardware));
    platform.install<orvo::Media>(std::make_unique<orvo::FFmpegMedia>());
    orvo::CopyFiles::checkFilesAndCopy();

    std::optional<orvo::AudioCaptureDevice> microphone;
    for (const auto& device : orvo::AudioManager::inputAudioDevices()) {
        if (device.uniqueID == "microphone")
            microphone = device;
    }
    // The driver as the program records it.
    auto manager =
        orvo::RecordManager::create({microphone, orvo::AudioManager::driverCaptureDevice()});
    if (!manager)
        return 1;
    manager->startRecord();
    orvo::consoleLine("recording " + manager->fileName());
    return QCoreApplication::exec();
}
