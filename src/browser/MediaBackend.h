#pragma once

#include <QMediaPlayer>
#include <QVideoWidget>

namespace orvo {

// Makes the players and video views of the records window on the media backend it plays with.
// Qt's FFmpeg backend, unless QT_MEDIA_BACKEND names another: its GStreamer backend, the default
// here, sets a paused player playing again when its video output changes, and its device
// watcher releases GStreamer objects twice when a sound device comes or goes. The backend is
// fixed by the first player or view made, so both are made here.
class MediaBackend {
public:
    static QMediaPlayer* newPlayer(QObject* parent);
    static QVideoWidget* newVideoWidget(QWidget* parent);

private:
    static void choose();
};

} // namespace orvo
