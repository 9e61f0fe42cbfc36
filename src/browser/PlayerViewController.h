#pragma once

#include <memory>

#include <QAudioOutput>
#include <QLabel>
#include <QMediaPlayer>
#include <QPaintEvent>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QWidget>

#include "shell/MediaTime.h"
#include "store/RealmRecordModel.h"

namespace orvo {

// The audio strip along the bottom of the records window: the record's avatar, play/pause,
// elapsed time, position and remaining time. One player for the life of the strip, reused
// for every record; it reads the file and never changes the record. Main thread.
class PlayerViewController : public QWidget {
    Q_OBJECT
public:
    explicit PlayerViewController(QWidget* parent = nullptr);
    ~PlayerViewController() override;

    PlayerViewController(const PlayerViewController&) = delete;
    PlayerViewController& operator=(const PlayerViewController&) = delete;

    // Owned by the strip.
    QLabel* const lblTimeEnd;
    QSlider* const sliderAudio;
    QLabel* const lblTimeBegine;
    QPushButton* const btnPlay;
    QPushButton* const btnIcon;

    bool isPlay = false;
    QMediaPlayer* const player;
    std::shared_ptr<RealmRecordModel> infoRecord;

    // The slider's steps per unit: its value / sliderScale is the position from 0 to 1.
    static constexpr int sliderScale = 10000;
    double sliderPosition() const;

    void setupView();
    // The item played to its end: back to the start, paused.
    void eventStopPlayer();
    // Loads infoRecord's file from the start in the playing state; the player starts with
    // play().
    void playerPrepare();
    void play();
    // Pauses; isPlay and the button keep their state.
    void stop();
    void observePlayerCurrentTime();
    void updateCurrentTimeSlider();

public slots:
    void actionPlay();
    void actionSlider();

protected:
    void paintEvent(QPaintEvent* event) override;

signals:
    // One tick of the periodic time observer, after the labels and the slider were updated.
    void currentTimeObserved();

private:
    void buildLayout();
    void setPlayImage(const QString& name);
    void observeTick();
    void stopAtEndOf(quint64 item);
    // The item's duration: 1 s without an item, indefinite while it is not known yet.
    MediaTime currentDuration() const;

    QAudioOutput* const audioOutput_;
    std::unique_ptr<QTimer> timeObserver_;
    QMetaObject::Connection endOfItem_;
    // Counts the items prepared, so that an end reported for an earlier one is told apart.
    quint64 item_ = 0;
};

} // namespace orvo
