#include "app/Backends.h"

#include <memory>

#include <QCoreApplication>

#include "platform/Platform.h"
#include "platform/linux/FFmpegMedia.h"
#include "platform/linux/LinuxAudioHardware.h"
#include "platform/linux/LinuxCapture.h"
#include "platform/linux/LinuxDisplays.h"
#include "platform/linux/LinuxFileAttributes.h"
#include "platform/linux/LinuxNetworkReachability.h"
#include "platform/linux/LinuxWorkspace.h"
#include "platform/linux/PocketsphinxSpeechRecognizer.h"
#include "platform/linux/XdgAutostartLoginItems.h"

namespace orvo {

void installBackends() {
    auto& platform = Platform::shared();
    platform.install<FileAttributes>(std::make_unique<LinuxFileAttributes>());
    platform.install<AudioHardware>(std::make_unique<LinuxAudioHardware>());
    platform.install<Displays>(std::make_unique<LinuxDisplays>());
    platform.install<Workspace>(std::make_unique<LinuxWorkspace>());
    platform.install<Capture>(std::make_unique<LinuxCapture>());
    platform.install<Media>(std::make_unique<FFmpegMedia>());
    platform.install<SpeechRecognizer>(std::make_unique<PocketsphinxSpeechRecognizer>());
    platform.install<NetworkReachability>(std::make_unique<LinuxNetworkReachability>());
    // The login helper sits beside the program, in the build tree as when installed.
    platform.install<LoginItems>(std::make_unique<XdgAutostartLoginItems>(
        QCoreApplication::applicationDirPath() + "/orvo-call-recorder-helper"));
}

} // namespace orvo
