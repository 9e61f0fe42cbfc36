// Records from the microphone with RecordManager until it is killed; says "recording" once the
// segments are being written.
#include <QCoreApplication>
#include <QTimer>

#include "audio/AudioManager.h"
#include "platform/Platform.h"
#include "platform/linux/FFmpegMedia.h"
#include "platform/linux/LinuxAudioHardware.h"
#include "platform/linux/LinuxCapture.h"
#include "recording/RecordManager.h"
#include "shell/Console.h"
#include "shell/CopyFiles.h"

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    auto& platform = orvo::Platform::shared();
    platform.install<orvo::AudioHardware>(std::make_unique<orvo::LinuxAudioHardware>());
    platform.install<orvo::Capture>(std::make_unique<orvo::LinuxCapture>());
    platform.install<orvo::Media>(std::make_unique<orvo::FFmpegMedia>());
    orvo::CopyFiles::checkFilesAndCopy();

    std::optional<orvo::AudioCaptureDevice> microphone;
    for (const auto& device : orvo::AudioManager::inputAudioDevices())
        if (device.uniqueID == "microphone")
            microphone = device;
    auto manager = orvo::RecordManager::create({microphone});
    if (!manager)
        return 1;
    manager->startRecord();
    orvo::consoleLine("recording " + manager->fileName());
    return QCoreApplication::exec();
}
