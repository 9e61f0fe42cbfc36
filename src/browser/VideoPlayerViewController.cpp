#include "browser/VideoPlayerViewController.h"

#include <QAudioOutput>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "browser/MediaBackend.h"
#include "shell/Formatting.h"
#include "ui/Fonts.h"
#include "ui/ImageExtensions.h"

namespace orvo {
namespace {

MediaTime mediaTimeOfMs(qint64 ms) {
    return {ms, 1000, false};
}

QString controlsStyle() {
    return QStringLiteral(
        "QWidget#videoControls { background: #1E1D24; }"
        "QLabel { color: #D9D7E3; }"
        "QPushButton { border: none; border-radius: 16px; }"
        "QPushButton:hover { background: #34323F; }"
        "QSlider::groove:horizontal { height: 4px; border-radius: 2px; background: #4A4857; }"
        "QSlider::sub-page:horizontal { border-radius: 2px; background: #6B59CC; }"
        "QSlider::handle:horizontal { width: 12px; height: 12px; margin: -4px 0;"
        " border-radius: 6px; background: white; }");
}

QIcon whiteIcon(const QString& name) {
    return tintedImageNamed(name, Qt::white, 24);
}

} // namespace

VideoPlayerViewController::VideoPlayerViewController(QWidget* parent)
    : QWidget(parent), playerView(MediaBackend::newVideoWidget(this)),
      playButton_(new QPushButton(this)), positionSlider_(new QSlider(Qt::Horizontal, this)),
      elapsedLabel_(new QLabel(this)), remainingLabel_(new QLabel(this)) {
    buildControls();
    attachControls();
}

VideoPlayerViewController::~VideoPlayerViewController() {
    // The player ends before the controls do and reports its last states meanwhile.
    if (player) {
        player->disconnect(this);
    }
}

void VideoPlayerViewController::buildControls() {
    auto* controls = new QWidget(this);
    controls->setObjectName("videoControls");
    controls->setAttribute(Qt::WA_StyledBackground);
    controls->setStyleSheet(controlsStyle());
    auto* row = new QHBoxLayout(controls);
    row->setContentsMargins(12, 8, 16, 8);
    row->setSpacing(12);
    playButton_->setFixedSize(32, 32);
    playButton_->setIconSize(QSize(22, 22));
    playButton_->setCursor(Qt::PointingHandCursor);
    for (QLabel* label : {elapsedLabel_, remainingLabel_}) {
        label->setFont(robotoFont("Roboto-Regular", 12));
        label->setMinimumWidth(QFontMetrics(label->font()).horizontalAdvance("-00:00") + 2);
    }
    row->addWidget(playButton_);
    row->addWidget(elapsedLabel_);
    row->addWidget(positionSlider_, 1);
    row->addWidget(remainingLabel_);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    playerView->setStyleSheet(QStringLiteral("background: black;"));
    column->addWidget(playerView, 1);
    column->addWidget(controls);

    connect(playButton_, &QPushButton::clicked, this, [this] {
        if (!shown_) {
            return;
        }
        shown_->playbackState() == QMediaPlayer::PlayingState ? shown_->pause() : shown_->play();
    });
    connect(positionSlider_, &QSlider::sliderMoved, this, [this](int ms) {
        if (shown_) {
            shown_->setPosition(ms);
        }
    });
}

void VideoPlayerViewController::preparePlayer() {
    if (window() != this) {
        window()->setWindowTitle(titleController);
    }
    if (!url) {
        return;
    }
    if (player && shown_ == player.get()) {
        stop();
    }
    player = std::make_unique<QMediaPlayer>();
    player->setAudioOutput(new QAudioOutput(player.get()));
    player->setSource(*url);
}

void VideoPlayerViewController::play() {
    if (!player) {
        return;
    }
    shown_ = player.get();
    shown_->setVideoOutput(playerView);
    connect(shown_, &QMediaPlayer::positionChanged, this, &VideoPlayerViewController::showPosition);
    connect(shown_, &QMediaPlayer::durationChanged, this, &VideoPlayerViewController::showPosition);
    connect(shown_, &QMediaPlayer::playbackStateChanged, this,
            &VideoPlayerViewController::showPlaybackState);
    shown_->play();
    attachControls();
}

void VideoPlayerViewController::stop() {
    if (!shown_) {
        return;
    }
    shown_->disconnect(this);
    // Detached before the pause: a backend may set a paused player playing again when its
    // video output changes.
    shown_->setVideoOutput(nullptr);
    shown_->pause();
    shown_ = nullptr;
    attachControls();
}

void VideoPlayerViewController::attachControls() {
    playButton_->setEnabled(shown_ != nullptr);
    positionSlider_->setEnabled(shown_ != nullptr);
    showPosition();
    showPlaybackState();
}

void VideoPlayerViewController::showPosition() {
    const qint64 position = shown_ ? shown_->position() : 0;
    const qint64 duration = shown_ ? shown_->duration() : 0;
    if (!positionSlider_->isSliderDown()) {
        positionSlider_->setRange(0, int(duration));
        positionSlider_->setValue(int(position));
    }
    elapsedLabel_->setText(toDisplayString(mediaTimeOfMs(position)));
    remainingLabel_->setText("-" + toDisplayString(mediaTimeOfMs(duration - position)));
}

void VideoPlayerViewController::showPlaybackState() {
    const bool playing = shown_ && shown_->playbackState() == QMediaPlayer::PlayingState;
    playButton_->setIcon(whiteIcon(playing ? "PauseMin" : "PlayMin"));
    playButton_->setAccessibleName(playing ? tr("Pause") : tr("Play"));
}

} // namespace orvo
