// The audio strip and the video window playing real files through the private sound server
// and X server of scripts/test.
#include <memory>

#include <QDir>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "browser/PlayerViewController.h"
#include "browser/VideoPlayerWindowController.h"
#include "shell/API.h"
#include "store/DesigneManager.h"
#include "store/RealmRecordModel.h"
#include "ui/Fonts.h"
#include "ui/ImageExtensions.h"

namespace orvo {
namespace {

constexpr int loadTimeoutMs = 10000;

// A tone of that length, made by the ffmpeg tool, into the records folder of its kind.
void makeMedia(const QString& path, double seconds, bool withVideo) {
    QStringList arguments{"-y",
                          "-loglevel",
                          "error",
                          "-f",
                          "lavfi",
                          "-i",
                          QString("sine=frequency=440:duration=%1").arg(seconds)};
    if (withVideo) {
        arguments << "-f"
                  << "lavfi"
                  << "-i" << QString("testsrc2=size=640x360:rate=25:duration=%1").arg(seconds)
                  << "-c:v"
                  << "libx264"
                  << "-pix_fmt"
                  << "yuv420p";
    }
    arguments << "-c:a"
              << "aac"
              << "-shortest" << path;
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    ASSERT_EQ(QProcess::execute("ffmpeg", arguments), 0) << path.toStdString();
}

std::shared_ptr<RealmRecordModel> audioRecord(const QString& name, const QString& fileName,
                                              double seconds) {
    return std::make_shared<RealmRecordModel>(name, QString(), fileName,
                                              QDateTime::currentDateTime(), seconds,
                                              RecordType::audio, std::nullopt, 0.1);
}

QString imageOf(const QPushButton* button) {
    return button->property("imageName").toString();
}

void saveScreenshot(QWidget* widget, const QString& name) {
    QDir().mkpath(ORVO_SCREENSHOT_DIR);
    // From the screen, so that the video's own surface is in the picture too.
    const QPixmap shot = widget->screen()->grabWindow(widget->winId());
    EXPECT_TRUE(shot.save(QString(ORVO_SCREENSHOT_DIR) + "/" + name + ".png"));
}

class PlayerTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        makeMedia(API::audioRecordsPath() + "long.m4a", 60, false);
        makeMedia(API::audioRecordsPath() + "short.m4a", 1.5, false);
        makeMedia(API::videoRecordsPath() + "screen.mov", 4, true);
    }

    // The strip playing record, as the records window starts it.
    void start(const std::shared_ptr<RealmRecordModel>& record) {
        strip.infoRecord = record;
        strip.playerPrepare();
        strip.play();
        ASSERT_TRUE(QTest::qWaitFor([&] { return strip.player->duration() > 0; }, loadTimeoutMs));
    }

    PlayerViewController strip;
};

TEST_F(PlayerTest, SliderSeeksToWholeSecondsOfTheDuration) {
    strip.resize(640, strip.height());
    strip.show();
    start(audioRecord("john", "long.m4a", 60));
    EXPECT_EQ(strip.btnIcon->text(), "J");
    EXPECT_FALSE(strip.btnIcon->isEnabled());

    strip.sliderAudio->setValue(PlayerViewController::sliderScale / 2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return strip.player->position() >= 30000; }, 5000));
    EXPECT_LT(strip.player->position(), 31500);

    // 0.4123 of 60 s is 24.7 s: the seek lands on the whole second before.
    strip.sliderAudio->setValue(PlayerViewController::sliderScale * 4123 / 10000);
    EXPECT_TRUE(QTest::qWaitFor([&] { return strip.player->position() < 25000; }, 5000));
    EXPECT_GE(strip.player->position(), 24000);

    ASSERT_TRUE(QTest::qWaitFor([&] { return strip.lblTimeBegine->text() == "00:25"; }, 3000));
    // The file lasts a little over 60 s: the remaining whole seconds are 34 or 35.
    EXPECT_TRUE(strip.lblTimeEnd->text() == "-00:35" || strip.lblTimeEnd->text() == "-00:34")
        << strip.lblTimeEnd->text().toStdString();
    EXPECT_NEAR(strip.sliderPosition(), 25.0 / 60.0, 0.02);
    QTest::qWait(300);
    saveScreenshot(&strip, "PlayerStrip");
}

TEST_F(PlayerTest, EndOfItemLeavesTheStripPausedAtTheStartAndPlayStartsAgain) {
    strip.show();
    start(audioRecord("short", "short.m4a", 1.5));
    EXPECT_TRUE(strip.isPlay);
    EXPECT_EQ(imageOf(strip.btnPlay), "PauseMin");

    ASSERT_TRUE(QTest::qWaitFor([&] { return !strip.isPlay; }, loadTimeoutMs));
    QTest::qWait(500);
    EXPECT_EQ(imageOf(strip.btnPlay), "PlayMin");
    EXPECT_NE(strip.player->playbackState(), QMediaPlayer::PlayingState);
    EXPECT_LT(strip.player->position(), 200);
    EXPECT_EQ(strip.lblTimeBegine->text(), "00:00");
    EXPECT_EQ(strip.sliderAudio->value(), 0);

    strip.btnPlay->click();
    EXPECT_TRUE(strip.isPlay);
    EXPECT_EQ(imageOf(strip.btnPlay), "PauseMin");
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return strip.player->playbackState() == QMediaPlayer::PlayingState; }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return strip.player->position() > 300; }, 5000));
    // It plays through to the end again, and again stops at the start.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !strip.isPlay; }, loadTimeoutMs));
}

TEST_F(PlayerTest, SecondRecordReplacesTheItemWithOneObserver) {
    strip.show();
    start(audioRecord("short", "short.m4a", 1.5));
    QTest::qWait(400);
    start(audioRecord("long", "long.m4a", 60));
    EXPECT_EQ(strip.player->source().fileName(), "long.m4a");
    EXPECT_EQ(strip.btnIcon->text(), "L");

    QSignalSpy ticks(&strip, &PlayerViewController::currentTimeObserved);
    QTest::qWait(1500);
    // Three a second: two observers would give about nine.
    EXPECT_GE(ticks.count(), 3);
    EXPECT_LE(ticks.count(), 6);
    EXPECT_TRUE(QTest::qWaitFor([&] { return strip.lblTimeEnd->text() == "-00:58"; }, 3000));
    // Past the short record's length, the long one still plays.
    EXPECT_TRUE(strip.isPlay);
    EXPECT_EQ(strip.player->playbackState(), QMediaPlayer::PlayingState);

    strip.stop();
    EXPECT_EQ(strip.player->playbackState(), QMediaPlayer::PausedState);
    EXPECT_TRUE(strip.isPlay);
}

// The player reports an end while the next record is chosen: the report still waits in the
// event queue when the new item starts, and must not stop it.
TEST_F(PlayerTest, AnEndReportedAsTheNextRecordIsChosenLeavesTheNextPlaying) {
    strip.show();
    start(audioRecord("short", "short.m4a", 1.5));
    emit strip.player->mediaStatusChanged(QMediaPlayer::EndOfMedia);
    start(audioRecord("long", "long.m4a", 60));
    EXPECT_TRUE(QTest::qWaitFor([&] { return strip.player->position() > 1000; }, 5000));
    EXPECT_TRUE(strip.isPlay);
    EXPECT_EQ(strip.player->playbackState(), QMediaPlayer::PlayingState);
    EXPECT_EQ(strip.player->source().fileName(), "long.m4a");
}

// Two windows one after the other, as when the records window is closed and opened again:
// a paused player must stay paused in each.
TEST_F(PlayerTest, ClosingTheVideoWindowStopsItAndItPlaysAgainWhenShown) {
    for (int windowNumber = 0; windowNumber < 2; ++windowNumber) {
        VideoPlayerWindowController window;
        window.show();
        VideoPlayerViewController* content = window.contentViewController();
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE(testing::Message() << "window " << windowNumber << ", round " << round);
            window.show();
            content->titleController = "Screen recording";
            content->url = QUrl::fromLocalFile(API::videoRecordsPath() + "screen.mov");
            content->preparePlayer();
            content->play();
            EXPECT_EQ(window.windowTitle(), "Screen recording");
            QMediaPlayer* player = content->player.get();
            ASSERT_TRUE(QTest::qWaitFor([&] { return player->position() > 1000; }, loadTimeoutMs));
            if (windowNumber == 0 && round == 0) {
                saveScreenshot(&window, "VideoPlayerWindow");
            }

            EXPECT_TRUE(window.close());
            EXPECT_EQ(player->playbackState(), QMediaPlayer::PausedState);
            // The reported position lags the pipeline by a tick; then it stands still.
            const qint64 closedAt = player->position();
            QTest::qWait(300);
            const qint64 stoppedAt = player->position();
            EXPECT_LT(stoppedAt - closedAt, 400);
            QTest::qWait(500);
            EXPECT_EQ(player->position(), stoppedAt);
            EXPECT_EQ(player->videoOutput(), nullptr);
        }
    }
}

// Every image the records window asks for by name is installed; the glyphs are black on
// transparent so that tinting gives them any colour. The sheet shows each avatar with its
// letter in its own colour, to be looked at.
TEST(RecordImagesTest, NamedImagesLoadAndGlyphsAreTintable) {
    const QStringList glyphs{"Favorite", "NoFavorite", "Note", "Tab3", "PlayMin", "PauseMin"};
    QImage sheet(8 * 56, 3 * 56, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    painter.setFont(robotoFont("Roboto-Medium", 18));
    for (int i = 0; i < DesigneManager::count; ++i) {
        const auto& letter = DesigneManager::arraySymbolsColors()[i];
        painter.setPen(QColor(letter.red, letter.green, letter.blue));
        for (int row = 0; row < 2; ++row) {
            const QString name = row == 0 ? DesigneManager::arrayAvatarsCircle()[i]
                                          : DesigneManager::arrayAvatarsSquare()[i];
            const QIcon icon = imageNamed(name);
            ASSERT_FALSE(icon.isNull()) << name.toStdString();
            const QRect frame(8 + i * 56, 8 + row * 56, 40, 40);
            icon.paint(&painter, frame);
            painter.drawText(frame, Qt::AlignCenter, QString(QChar('A' + i)));
        }
    }
    for (int i = 0; i < glyphs.size(); ++i) {
        const QImage image = imageNamed(glyphs[i]).pixmap(48).toImage();
        ASSERT_FALSE(image.isNull()) << glyphs[i].toStdString();
        int opaque = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                opaque += pixel.alpha() > 0;
                EXPECT_TRUE(pixel.alpha() == 0 || pixel.value() == 0)
                    << glyphs[i].toStdString() << " " << x << "," << y;
            }
        }
        EXPECT_GT(opaque, 48 * 48 / 20) << glyphs[i].toStdString();
        const QImage tinted = imageWithTintColor(image, QColor(107, 89, 204));
        painter.drawImage(QRect(8 + i * 56, 8 + 2 * 56, 40, 40), tinted);
    }
    painter.drawPixmap(8 + 6 * 56 + 12, 8 + 2 * 56 + 12, imageNamed("ActiveAudio").pixmap(16));
    painter.end();
    QDir().mkpath(ORVO_SCREENSHOT_DIR);
    EXPECT_TRUE(sheet.save(QString(ORVO_SCREENSHOT_DIR) + "/RecordImages.png"));
}

} // namespace
} // namespace orvo
