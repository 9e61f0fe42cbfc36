#include "app/Backends.h"

#include <memory>

#include <QCoreApplication>

#include "platform/Platform.h"
#include "platform/linux/capture/LinuxCapture.h"
#include "platform/linux/desktop/LinuxDisplays.h"
#include "platform/linux/desktop/LinuxFileAttributes.h"
#include "platform/linux/desktop/LinuxWorkspace.h"
#include "platform/linux/desktop/WaylandDisplays.h"
#include "platform/linux/desktop/XdgAutostartLoginItems.h"
#include "platform/linux/echo/WebRtcEchoCanceller.h"
#include "platform/linux/media/FFmpegMedia.h"
#include "platform/linux/network/LinuxNetworkReachability.h"
#include "platform/linux/sound/LinuxAudioHardware.h"
#include "platform/linux/speech/PocketsphinxSpeechRecognizer.h"

namespace orvo {

void installBackends(const LinuxAudioHardware::Options& options) {
    auto& platform = Platform::shared();
    platform.install<FileAttributes>(std::make_unique<LinuxFileAttributes>());
    // The capture asks the hardware which sources exist: they are installed together.
    auto hardware = std::make_unique<LinuxAudioHardware>(options);
    platform.install<Capture>(std::make_unique<LinuxCapture>(*hardware));
    platform.install<AudioHardware>(std::move(hardware));
    if (WaylandDisplays::isWaylandSession()) {
        platform.install<Displays>(std::make_unique<WaylandDisplays>());
    } else {
        platform.install<Displays>(std::make_unique<LinuxDisplays>());
    }
    platform.install<Workspace>(std::make_unique<LinuxWorkspace>());
    platform.install<Media>(std::make_unique<FFmpegMedia>());
    platform.install<SpeechRecognizer>(std::make_unique<PocketsphinxSpeechRecognizer>());
    platform.install<EchoCanceller>(std::make_unique<WebRtcEchoCanceller>());
    platform.install<NetworkReachability>(std::make_unique<LinuxNetworkReachability>());
    // The login helper sits beside the program, in the build tree as when installed.
    platform.install<LoginItems>(std::make_unique<XdgAutostartLoginItems>(
        QCoreApplication::applicationDirPath() + "/orvo-call-recorder-helper"));
}

} // namespace orvo
