#pragma once

#include <memory>
#include <optional>

#include <QLabel>
#include <QMediaPlayer>
#include <QPushButton>
#include <QSlider>
#include <QUrl>
#include <QVideoWidget>
#include <QWidget>

namespace orvo {

// The video window's content: the movie view with its own play/pause button, position
// slider and times. A new player for each video. Main thread.
class VideoPlayerViewController : public QWidget {
    Q_OBJECT
public:
    explicit VideoPlayerViewController(QWidget* parent = nullptr);
    ~VideoPlayerViewController() override;

    VideoPlayerViewController(const VideoPlayerViewController&) = delete;
    VideoPlayerViewController& operator=(const VideoPlayerViewController&) = delete;

    // Owned by the view.
    QVideoWidget* const playerView;
    QString titleController;
    std::optional<QUrl> url;
    // Absent until the first preparePlayer() with a url.
    std::unique_ptr<QMediaPlayer> player;

    // The window's title becomes titleController; a new player for url, when there is one.
    void preparePlayer();
    // Shows the player in playerView and starts it.
    void play();
    // Pauses the player shown and takes it out of playerView.
    void stop();

private:
    void buildControls();
    void attachControls();
    void showPosition();
    void showPlaybackState();

    // The player whose picture and controls are shown; null when stopped.
    QMediaPlayer* shown_ = nullptr;
    QPushButton* const playButton_;
    QSlider* const positionSlider_;
    QLabel* const elapsedLabel_;
    QLabel* const remainingLabel_;
};

} // namespace orvo
