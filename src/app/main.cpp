#include <memory>

#include <QApplication>
#include <QTimer>

#include "app/AppDelegate.h"
#include "platform/Platform.h"
#include "platform/linux/FFmpegMedia.h"
#include "platform/linux/LinuxAudioHardware.h"
#include "platform/linux/LinuxCapture.h"
#include "platform/linux/LinuxDisplays.h"
#include "platform/linux/LinuxFileAttributes.h"
#include "platform/linux/LinuxWorkspace.h"
#include "shell/API.h"

namespace {

void installBackends() {
    auto& platform = orvo::Platform::shared();
    platform.install<orvo::FileAttributes>(std::make_unique<orvo::LinuxFileAttributes>());
    platform.install<orvo::AudioHardware>(std::make_unique<orvo::LinuxAudioHardware>());
    platform.install<orvo::Displays>(std::make_unique<orvo::LinuxDisplays>());
    platform.install<orvo::Workspace>(std::make_unique<orvo::LinuxWorkspace>());
    platform.install<orvo::Capture>(std::make_unique<orvo::LinuxCapture>());
    platform.install<orvo::Media>(std::make_unique<orvo::FFmpegMedia>());
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(orvo::API::prgName());
    QApplication::setApplicationVersion(orvo::API::prgVersion());
    // A tray program: closing its last window does not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    installBackends();
    orvo::AppDelegate delegate;
    QTimer::singleShot(0, &delegate, &orvo::AppDelegate::applicationDidFinishLaunching);
    return QApplication::exec();
}
