#pragma once

#include <functional>
#include <memory>

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include "platform/Platform.h"
#include "platform/linux/capture/LinuxCapture.h"
#include "platform/linux/media/FFmpegMedia.h"
#include "platform/linux/sound/LinuxAudioHardware.h"
#include "shell/API.h"
#include "shell/CopyFiles.h"
#include "store/Realm.h"
#include "store/RealmRecordModel.h"
#include "store/Results.h"
#include "support/TestFiles.h"

// Whole recordings on the real backends and the private services. Header only: the programs
// that use it link the backends themselves.
namespace orvo::test {

// The storage tree in place, no recording files left in it, and the catalogue configured.
inline void startFromEmptyRecordFolders() {
    CopyFiles::checkFilesAndCopy();
    for (const QString& folder : {API::audioRecordsPath(), API::videoRecordsPath()}) {
        for (const QString& name : QDir(folder).entryList(QDir::Files)) {
            QFile::remove(folder + name);
        }
    }
    if (!Realm::defaultConfiguration()) {
        Realm::setDefaultConfiguration({API::recordsRealmPath(), 1});
    }
}

// The sound server, the capture over it and the media files, as the program installs them.
inline void installRecordingBackends(const LinuxAudioHardware::Options& options) {
    auto& platform = Platform::shared();
    auto hardware = std::make_unique<LinuxAudioHardware>(options);
    platform.install<Capture>(std::make_unique<LinuxCapture>(*hardware));
    platform.install<AudioHardware>(std::move(hardware));
    platform.install<Media>(std::make_unique<FFmpegMedia>());
}

// The catalogue's record of that file; nullptr when there is none.
inline std::shared_ptr<RealmRecordModel> recordNamed(const QString& fileName) {
    const auto found = realm().objects().filter("fileName == %@", {fileName});
    return found.isEmpty() ? nullptr : found.at(0);
}

// The main thread's events, asleep in between.
inline void runEventLoopFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace orvo::test
