// Files from other programs brought into the records window as a user does: dropped on it or
// chosen through File ▸ Import, carried by FFmpeg into the recordings, listed with their name
// and date, and transcribed by pocketsphinx when the user takes the offer.
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMimeData>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include "browser/ImportFlow.h"
#include "browser/MainViewController.h"
#include "browser/MainWindowController.h"
#include "browser/RecordTableViewController.h"
#include "platform/Platform.h"
#include "platform/linux/media/FFmpegMedia.h"
#include "platform/linux/speech/PocketsphinxSpeechRecognizer.h"
#include "shell/API.h"
#include "shell/CopyFiles.h"
#include "shell/Localization.h"
#include "store/Realm.h"
#include "store/RealmManager.h"
#include "store/RealmRecordModel.h"
#include "ui/AlertDialog.h"

namespace orvo {
namespace {

bool run(const QString& program, const QStringList& arguments) {
    return QProcess::execute(program, arguments) == 0;
}

QString formatted(const char* key, const QString& argument) {
    return Localization::format(Localization::text(key), {argument});
}

class ImportTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        CopyFiles::checkFilesAndCopy();
        Realm::setDefaultConfiguration({API::recordsRealmPath(), 1});
        Platform::shared().install<Media>(std::make_unique<FFmpegMedia>());
        Platform::shared().install<SpeechRecognizer>(
            std::make_unique<PocketsphinxSpeechRecognizer>());
    }
    void SetUp() override {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "needs the X server";
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        window.resize(860, 560);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    // The alert the window shows now with this title, once it is there.
    AlertDialog* alertTitled(const QString& title) {
        AlertDialog* found = nullptr;
        (void)QTest::qWaitFor(
            [&] {
                for (auto* alert : window.findChildren<AlertDialog*>()) {
                    if (alert->isVisible() && alert->messageText() == title) {
                        found = alert;
                    }
                }
                return found != nullptr;
            },
            30000);
        return found;
    }
    std::shared_ptr<RealmRecordModel> recordNamed(const QString& name) {
        const Results all = realm().objects();
        for (int i = 0; i < all.size(); ++i) {
            if (all.at(i)->name() == name) {
                return all.at(i);
            }
        }
        return nullptr;
    }
    void drop(const QStringList& paths) {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& path : paths) {
            urls << QUrl::fromLocalFile(path);
        }
        data.setUrls(urls);
        const QPoint at = window.rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &dropped);
    }
    QStringList recordings() const {
        QStringList files = QDir(API::audioRecordsPath()).entryList(QDir::Files);
        files += QDir(API::videoRecordsPath()).entryList(QDir::Files);
        return files;
    }

    QTemporaryDir folder;
    MainWindowController window{nullptr, nullptr};
};

TEST_F(ImportTest, ADroppedSpokenFileIsListedByItsNameAndDateAndTranscribedOnTheOffer) {
    const QString wav = folder.filePath("speech.wav");
    const QString source = folder.filePath("Standup with Maria.mp3");
    ASSERT_TRUE(run("flite", {"-voice", "slt", "-t",
                              "the weather is nice today. please call me back tomorrow morning.",
                              "-o", wav}));
    // A second of silence after the words, as a call has.
    ASSERT_TRUE(run("ffmpeg", {"-v", "error", "-y", "-i", wav, "-af", "apad=pad_dur=1", "-c:a",
                               "libmp3lame", source}));
    const QDateTime made(QDate(2025, 3, 14), QTime(9, 26, 53));
    ASSERT_TRUE(run("touch", {"-d", made.toString(Qt::ISODate), source}));

    drop({source});
    AlertDialog* offer = alertTitled(formatted("IMPORT_DONE_TITLE", "Standup with Maria"));
    ASSERT_NE(offer, nullptr);
    const auto record = recordNamed("Standup with Maria");
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->time(), made);
    EXPECT_EQ(record->typeRecord(), recordTypeText(RecordType::audio));
    EXPECT_TRUE(record->fileName().endsWith(".m4a"));
    EXPECT_TRUE(QFileInfo::exists(*record->filePath()));
    EXPECT_NEAR(record->duration(), 3.5, 1.5);
    RecordTableViewController& table = *window.contentViewController()->recordsTableView;
    EXPECT_TRUE(QTest::qWaitFor([&] { return table.numberOfRows() == 1; }, 5000));
    QDir().mkpath(ORVO_SCREENSHOT_DIR);
    QTest::qWait(300); // the row painted
    // The whole screen: the offer is a window of its own.
    window.screen()->grabWindow(0).save(QString(ORVO_SCREENSHOT_DIR) + "/import-offer.png");

    QTest::mouseClick(offer->buttons().at(0), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !record->recognizeText().isEmpty(); }, 60000));
    int found = 0;
    for (const char* word : {"weather", "today", "call", "tomorrow", "morning"}) {
        found += record->recognizeText().contains(word) ? 1 : 0;
    }
    EXPECT_GE(found, 3) << record->recognizeText().toStdString();
}

TEST_F(ImportTest, WhatCannotBeReadIsNamedAndNotCopiedAndAVideoChosenInTheDialogComesAsVideo) {
    const QString text = folder.filePath("minutes.txt");
    ASSERT_TRUE(run("sh", {"-c", "echo 'not a recording' > '" + text + "'"}));
    const QString video = folder.filePath("Design review.mp4");
    ASSERT_TRUE(run("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                               "testsrc=size=320x240:rate=25:duration=2", "-f", "lavfi", "-i",
                               "sine=frequency=440:duration=2", "-c:v", "libx264", "-pix_fmt",
                               "yuv420p", "-c:a", "aac", "-shortest", video}));
    const QStringList before = recordings();

    window.importAction()->trigger();
    QFileDialog* dialog = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return (dialog = window.findChild<QFileDialog*>()) && dialog->isVisible(); }, 5000));
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFiles);
    dialog->setDirectory(folder.path());
    dialog->selectNameFilter(Localization::text("IMPORT_DIALOG_ALL") + " (*)");
    dialog->selectFile(QString("\"minutes.txt\" \"Design review.mp4\""));
    // As the Open button does; QFileDialog keeps accept() to itself.
    static_cast<QDialog*>(dialog)->accept();

    AlertDialog* refused = alertTitled(Localization::text("IMPORT_FAILED_TITLE"));
    ASSERT_NE(refused, nullptr);
    EXPECT_EQ(refused->informativeText(), formatted("IMPORT_UNREADABLE", "minutes.txt"));
    QTest::mouseClick(refused->buttons().at(0), Qt::LeftButton);
    AlertDialog* offer = alertTitled(formatted("IMPORT_DONE_TITLE", "Design review"));
    ASSERT_NE(offer, nullptr);
    const QStringList added = [&] {
        QStringList now = recordings();
        for (const QString& file : before) {
            now.removeAll(file);
        }
        return now;
    }();
    ASSERT_EQ(added.size(), 1) << added.join(", ").toStdString();
    EXPECT_TRUE(added.front().endsWith(".mov"));
    const auto record = recordNamed("Design review");
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->typeRecord(), recordTypeText(RecordType::video));
    EXPECT_EQ(record->fileName(), added.front());
    EXPECT_EQ(recordNamed("minutes"), nullptr);

    // Not now: nothing is transcribed.
    offer->buttons().at(1)->click();
    QTest::qWait(500);
    EXPECT_TRUE(record->recognizeText().isEmpty());
}

} // namespace
} // namespace orvo
