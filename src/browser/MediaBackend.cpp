#include "browser/MediaBackend.h"

namespace orvo {

namespace {
const char* const backendVariable = "QT_MEDIA_BACKEND";
}

QMediaPlayer* MediaBackend::newPlayer(QObject* parent) {
    choose();
    return new QMediaPlayer(parent);
}

QVideoWidget* MediaBackend::newVideoWidget(QWidget* parent) {
    choose();
    return new QVideoWidget(parent);
}

void MediaBackend::choose() {
    if (qEnvironmentVariableIsEmpty(backendVariable)) {
        qputenv(backendVariable, "ffmpeg");
    }
}

} // namespace orvo
