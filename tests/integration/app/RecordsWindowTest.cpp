// The records window as a user meets it, on the sound server and X server of scripts/test
// with the program's own backends: it opens at start-up, a call recorded from its Record
// menu appears as a row, and the row is found, played, edited and deleted.
#include <memory>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QMediaPlayer>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "app/AppDelegate.h"
#include "audio/AudioManager.h"
#include "browser/MainViewController.h"
#include "browser/MainWindowController.h"
#include "browser/PlayerViewController.h"
#include "browser/RecordTableRowView.h"
#include "browser/RecordTableViewController.h"
#include "integration/app/LaunchedProgram.h"
#include "integration/platform/MediaCheck.h"
#include "platform/Platform.h"
#include "shell/API.h"
#include "shell/Formatting.h"
#include "store/Realm.h"
#include "store/RealmRecordModel.h"
#include "support/Dialogs.h"
#include "support/TestFiles.h"
#include "tray/OrvoMenuTray.h"
#include "ui/AlertDialog.h"

namespace orvo {
namespace {

using test::actionTitled;
using test::menuTitled;
using test::modalAlert;

constexpr int recordingMs = 3000;

// The catalogue as the sqlite3 tool reads the file: one line per record.
QString catalogueRow(const QString& fileName) {
    return test::sqliteField(
        API::recordsRealmPath(),
        "SELECT name, note, favorite FROM RealmRecordModel WHERE fileName = '" + fileName + "'");
}

class RecordsWindow : public test::LaunchedProgram {
protected:
    void answerAlert(const QString& text) {
        ASSERT_TRUE(QTest::qWaitFor([] { return modalAlert() != nullptr; }, 5000));
        if (auto* field = modalAlert()->findChild<QLineEdit*>()) {
            field->setText(text);
        } else if (auto* editor = modalAlert()->findChild<QPlainTextEdit*>()) {
            editor->setPlainText(text);
        }
        modalAlert()->done(1000);
        QCoreApplication::processEvents();
    }
};

TEST_F(RecordsWindow, ACallRecordedFromTheWindowIsFoundPlayedEditedAndDeleted) {
    ASSERT_TRUE(launch());
    MainWindowController* window = shownWindow();
    ASSERT_NE(window, nullptr);
    MainViewController& content = *window->contentViewController();
    RecordTableViewController& table = *content.recordsTableView;
    const int rowsBefore = table.numberOfRows();

    QMenu* recordMenu = menuTitled(*window->menuBar(), "Record");
    ASSERT_NE(recordMenu, nullptr);
    QAction* microphone = actionTitled(*recordMenu, "Start recording from Microphone");
    ASSERT_NE(microphone, nullptr);
    QTemporaryDir folder;
    test::TonePlayer nearSide(folder.path(), "microphone_feed", 1000, 0.3);
    microphone->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return tray().isRecord(); }, 10000));
    QTest::qWait(recordingMs);
    EXPECT_TRUE(window->statusLine()->text().contains("ORVO: "));
    QAction* stop = actionTitled(*recordMenu, "Stop recording from Microphone");
    ASSERT_NE(stop, nullptr);
    stop->trigger();

    // The new row comes without any refresh, on top.
    ASSERT_TRUE(QTest::qWaitFor([&] { return table.numberOfRows() == rowsBefore + 1; }, 60000));
    const auto record = table.realmRecords()->at(0);
    ASSERT_NE(record, nullptr);
    const QString path = API::audioRecordsPath() + record->fileName();
    ASSERT_TRUE(QFileInfo(path).isFile());

    // Part of its name finds it.
    content.searchField->setFocus();
    QTest::keyClicks(content.searchField, record->name().mid(2, 6).toLower());
    ASSERT_GE(table.numberOfRows(), 1);
    EXPECT_EQ(table.realmRecords()->at(0), record);

    // A click on the row plays it in the strip.
    QWidget* rows = table.recordsTableView->viewport();
    QTest::mouseClick(rows, Qt::LeftButton, {}, table.frameOfRow(0).topLeft() + QPoint(300, 30));
    EXPECT_TRUE(content.isShowPlayer);
    QMediaPlayer& player = *content.playerViewController->player;
    EXPECT_TRUE(QTest::qWaitFor([&] { return player.position() > 500; }, 10000))
        << "position " << player.position();

    // Rename, note, star and delete reach the file; the media stays where it is. The new
    // name would leave the search, so the whole list is shown again first.
    content.searchField->clear();
    ASSERT_EQ(table.realmRecords()->at(0), record);
    auto rowView = table.tableView(0, table.frameOfRow(0));
    table.renameRecord(record, *rowView);
    answerAlert("Call with Anna");
    table.noteRecord(record, *rowView, {});
    answerAlert("Send the contract");
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activeModalWidget() == nullptr; }, 5000));
    QTest::mouseClick(rows, Qt::LeftButton, {},
                      rowView->frameOf(RecordTableRowView::Control::favorite).center());
    EXPECT_EQ(catalogueRow(record->fileName()), "Call with Anna|Send the contract|1");

    const QString fileName = record->fileName();
    table.deleteRecord(record, *rowView);
    answerAlert(QString());
    EXPECT_EQ(catalogueRow(fileName), "");
    EXPECT_FALSE(content.isShowPlayer);
    EXPECT_TRUE(QFileInfo(path).isFile());
}

// A user's window with three records: one with its note unfolded, a screen recording and a
// favourite, written to build/screenshots/records-window.png to be looked at.
TEST_F(RecordsWindow, ThreeRecordsAsTheUserSeesThem) {
    delegate = std::make_unique<AppDelegate>();
    delegate->applicationDidFinishLaunching();
    MainWindowController* window = delegate->mainWC();
    ASSERT_NE(window, nullptr);
    RecordTableViewController& table = *window->contentViewController()->recordsTableView;

    QImage icon(64, 64, QImage::Format_ARGB32);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(42, 171, 238));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(2, 2, 60, 60);
    painter.end();
    icon.save(API::iconAppsPath() + "/" + MD5("Telegram.app") + ".png");

    const QDateTime now = QDateTime::currentDateTime();
    auto favourite = std::make_shared<RealmRecordModel>("Weekly planning", "", "screenshot-1.m4a",
                                                        now.addDays(-2), 1834, RecordType::audio,
                                                        std::nullopt, 3.52);
    auto video = std::make_shared<RealmRecordModel>("Screen recording 20261205143012", "",
                                                    "screenshot-2.mov", now.addDays(-1), 312,
                                                    RecordType::video, std::nullopt, 48.7);
    auto noted = std::make_shared<RealmRecordModel>("Call with Anna Petrova", "79161234567",
                                                    "screenshot-3.m4a", now, 754, RecordType::audio,
                                                    "Telegram.app", 1.21);
    realm().write([&] {
        Results all = realm().objects();
        // The result moves on only after the write.
        for (int i = all.size() - 1; i >= 0; --i) {
            realm().remove(all.at(i));
        }
        favourite->setFavorite(true);
        noted->setNote("Send the signed contract by Friday. Anna prefers e-mail.");
        noted->setRecognizeText("hello anna it is about the contract we talked about yesterday "
                                "can you send it by friday");
        for (const auto& record : {favourite, video, noted}) {
            realm().add(record);
        }
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return table.numberOfRows() == 3; }, 5000));
    window->resize(860, 560);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    table.actionSubInfo(noted);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !table.uncoverState(*noted)->animating; }, 3000));
    QTest::qWait(200);

    const QString folder = QStringLiteral(ORVO_SCREENSHOT_DIR);
    QDir().mkpath(folder);
    ASSERT_TRUE(window->grab().save(folder + "/records-window.png"));

    // The same window playing the favourite in its strip.
    QTemporaryDir sounds;
    ASSERT_TRUE(QFile::copy(test::makeAacTone(sounds.path(), 440, 0.2, 30),
                            API::audioRecordsPath() + favourite->fileName()));
    table.tableViewSelectionIsChanging(2);
    MainViewController& content = *window->contentViewController();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return content.layoutPlayerButtom() == MainViewController::playerShownConstant &&
                   content.playerViewController->player->position() > 2000;
        },
        10000));
    ASSERT_TRUE(window->grab().save(folder + "/records-window-playing.png"));
}

} // namespace
} // namespace orvo
