#include "browser/PlayerViewController.h"

#include <algorithm>
#include <cmath>

#include <QHBoxLayout>
#include <QPainter>
#include <QSignalBlocker>
#include <QUrl>

#include "browser/MediaBackend.h"
#include "shell/API.h"
#include "shell/Bundle.h"
#include "shell/Formatting.h"
#include "shell/Localization.h"
#include "store/DesigneManager.h"
#include "ui/Fonts.h"
#include "ui/ImageExtensions.h"

namespace orvo {
namespace {

constexpr int observerIntervalMs = 1000 / 3;
constexpr int stripHeight = 64;
constexpr int avatarSize = 40;
constexpr int playButtonSize = 32;

MediaTime mediaTimeOfMs(qint64 ms) {
    return {ms, 1000, false};
}

QString sliderStyle() {
    return QStringLiteral("QSlider::groove:horizontal { height: 4px; border-radius: 2px;"
                          " background: #E4E2EE; }"
                          "QSlider::sub-page:horizontal { border-radius: 2px; background: %1; }"
                          "QSlider::handle:horizontal { width: 12px; height: 12px;"
                          " margin: -4px 0; border-radius: 6px; background: white;"
                          " border: 1px solid %1; }")
        .arg(accentColor.name());
}

// The letter sits on the avatar image, as a title over a button's picture, in the colour
// that belongs to the avatar.
QString avatarStyle(const QString& imagePath, const SymbolColor& letter) {
    return QStringLiteral("QPushButton { border: none; color: rgb(%2, %3, %4);"
                          " border-image: url(\"%1\"); }")
        .arg(imagePath)
        .arg(letter.red)
        .arg(letter.green)
        .arg(letter.blue);
}

} // namespace

PlayerViewController::PlayerViewController(QWidget* parent)
    : QWidget(parent), lblTimeEnd(new QLabel(this)), sliderAudio(new QSlider(this)),
      lblTimeBegine(new QLabel(this)), btnPlay(new QPushButton(this)),
      btnIcon(new QPushButton(this)), player(MediaBackend::newPlayer(this)),
      audioOutput_(new QAudioOutput(this)) {
    player->setAudioOutput(audioOutput_);
    buildLayout();
    setupView();
}

PlayerViewController::~PlayerViewController() {
    // The player outlives this part of the object and reports its last states while it ends.
    QObject::disconnect(endOfItem_);
}

void PlayerViewController::buildLayout() {
    setFixedHeight(stripHeight);
    setMinimumWidth(360);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 10, 18, 10);
    layout->setSpacing(12);

    btnIcon->setFixedSize(avatarSize, avatarSize);
    btnIcon->setFont(robotoFont("Roboto-Medium", 18));
    btnPlay->setFixedSize(playButtonSize, playButtonSize);
    btnPlay->setAccessibleName(Localization::text("ACCESSIBLE_PLAY"));
    sliderAudio->setAccessibleName(Localization::text("ACCESSIBLE_POSITION"));
    btnPlay->setIconSize(QSize(playButtonSize - 8, playButtonSize - 8));
    btnPlay->setFlat(true);
    btnPlay->setCursor(Qt::PointingHandCursor);
    btnPlay->setStyleSheet(QStringLiteral("QPushButton { border: none; border-radius: 16px; }"
                                          "QPushButton:hover { background: #EEECF8; }"));
    for (QLabel* label : {lblTimeBegine, lblTimeEnd}) {
        label->setFont(robotoFont("Roboto-Regular", 12));
        label->setMinimumWidth(QFontMetrics(label->font()).horizontalAdvance("-00:00") + 2);
        label->setStyleSheet(QStringLiteral("color: #6E6C7A;"));
    }
    lblTimeBegine->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblTimeEnd->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    sliderAudio->setOrientation(Qt::Horizontal);
    sliderAudio->setRange(0, sliderScale);

    layout->addWidget(btnIcon);
    layout->addWidget(btnPlay);
    layout->addWidget(lblTimeBegine);
    layout->addWidget(sliderAudio, 1);
    layout->addWidget(lblTimeEnd);

    connect(btnPlay, &QPushButton::clicked, this, &PlayerViewController::actionPlay);
    connect(sliderAudio, &QSlider::valueChanged, this, &PlayerViewController::actionSlider);
}

void PlayerViewController::setupView() {
    btnIcon->setEnabled(false);
    sliderAudio->setStyleSheet(sliderStyle());
    setPlayImage("PlayMin");
}

// A card floating above the bottom of the records window.
void PlayerViewController::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0xDD, 0xDB, 0xE6), 1));
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 12, 12);
}

double PlayerViewController::sliderPosition() const {
    return double(sliderAudio->value()) / sliderScale;
}

void PlayerViewController::setPlayImage(const QString& name) {
    btnPlay->setIcon(tintedImageNamed(name, accentColor, playButtonSize));
    btnPlay->setProperty("imageName", name);
    btnPlay->setAccessibleName(name == "PlayMin" ? tr("Play") : tr("Pause"));
}

void PlayerViewController::eventStopPlayer() {
    playerPrepare();
    actionPlay();
}

void PlayerViewController::playerPrepare() {
    if (!infoRecord) {
        return;
    }
    const int designeID = std::clamp(infoRecord->designeID(), 0, DesigneManager::count - 1);
    const auto avatarPath = Bundle::pathForResource(DesigneManager::arrayAvatarsSquare()[designeID],
                                                    QStringLiteral("svg"));
    btnIcon->setStyleSheet(avatarStyle(avatarPath.value_or(QString()),
                                       DesigneManager::arraySymbolsColors()[designeID]));
    btnIcon->setText(infoRecord->symbol());

    setPlayImage("PauseMin");
    isPlay = true;
    {
        const QSignalBlocker blocker(sliderAudio);
        sliderAudio->setValue(0);
    }
    ++item_;
    player->setSource(QUrl::fromLocalFile(infoRecord->filePath().value_or(QString())));
    observePlayerCurrentTime();
}

void PlayerViewController::play() {
    player->play();
    QObject::disconnect(endOfItem_);
    // Handled a turn later: the player is still inside its own state change when it reports the
    // end. By then another item may have been prepared, and the end is not its own.
    endOfItem_ = connect(player, &QMediaPlayer::mediaStatusChanged, this,
                         [this](QMediaPlayer::MediaStatus status) {
                             if (status == QMediaPlayer::EndOfMedia) {
                                 stopAtEndOf(item_);
                             }
                         });
}

void PlayerViewController::stopAtEndOf(quint64 item) {
    QMetaObject::invokeMethod(
        this,
        [this, item] {
            if (item == item_) {
                eventStopPlayer();
            }
        },
        Qt::QueuedConnection);
}

void PlayerViewController::stop() {
    player->pause();
    QObject::disconnect(endOfItem_);
}

void PlayerViewController::observePlayerCurrentTime() {
    timeObserver_ = std::make_unique<QTimer>();
    timeObserver_->setInterval(observerIntervalMs);
    connect(timeObserver_.get(), &QTimer::timeout, this, &PlayerViewController::observeTick);
    timeObserver_->start();
}

void PlayerViewController::observeTick() {
    const double elapsed = double(player->position()) / 1000.0;
    const MediaTime duration = currentDuration();
    lblTimeBegine->setText(toDisplayString(mediaTimeOfMs(player->position())));
    // An unknown duration shows as the sign alone.
    const MediaTime remaining =
        duration.indefinite ? duration : MediaTime::fromSeconds(duration.seconds() - elapsed, 1000);
    lblTimeEnd->setText("-" + toDisplayString(remaining));
    updateCurrentTimeSlider();
    emit currentTimeObserved();
}

MediaTime PlayerViewController::currentDuration() const {
    if (player->source().isEmpty()) {
        return MediaTime::fromSeconds(1);
    }
    const qint64 ms = player->duration();
    return ms > 0 ? mediaTimeOfMs(ms) : MediaTime::makeIndefinite();
}

void PlayerViewController::updateCurrentTimeSlider() {
    const double fraction = double(player->position()) / 1000.0 / currentDuration().seconds();
    if (!std::isfinite(fraction) || sliderAudio->isSliderDown()) {
        return;
    }
    const QSignalBlocker blocker(sliderAudio);
    sliderAudio->setValue(int(std::lround(fraction * sliderScale)));
}

void PlayerViewController::actionPlay() {
    isPlay = !isPlay;
    setPlayImage(isPlay ? "PauseMin" : "PlayMin");
    if (isPlay) {
        player->play();
    } else {
        player->pause();
    }
}

void PlayerViewController::actionSlider() {
    const double durationSeconds = currentDuration().seconds();
    if (player->source().isEmpty() || !std::isfinite(durationSeconds)) {
        return;
    }
    const auto wholeSeconds = qint64(sliderPosition() * durationSeconds);
    player->setPosition(wholeSeconds * 1000);
}

} // namespace orvo
