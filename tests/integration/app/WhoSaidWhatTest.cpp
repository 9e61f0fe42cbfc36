// A call whose two sides say different sentences, recorded from the records window with the
// program's own backends on the sound server of scripts/test, then transcribed from the
// window: the text says who said what, the subtitles lie beside it, the search finds it.
#include <cstdio>
#include <memory>

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "app/AppDelegate.h"
#include "audio/AudioManager.h"
#include "browser/MainViewController.h"
#include "browser/MainWindowController.h"
#include "browser/RecordTableRowView.h"
#include "browser/RecordTableViewController.h"
#include "integration/app/LaunchedProgram.h"
#include "platform/Platform.h"
#include "recording/EchoRemoval.h"
#include "shell/API.h"
#include "store/RealmRecordModel.h"
#include "support/Dialogs.h"
#include "transcription/SubtitleWriter.h"
#include "tray/OrvoMenuTray.h"

namespace orvo {
namespace {

bool run(const QString& program, const QStringList& arguments, int timeoutMs = 60000) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

QByteArray md5Of(const QString& path) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Md5);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result() : QByteArray();
}

// Whether a line of the speaker holds one of the words.
bool saidBy(const QString& text, const QString& speaker, const QStringList& words) {
    for (const QString& line : text.split('\n')) {
        if (!line.startsWith(speaker + ": ")) {
            continue;
        }
        for (const QString& word : words) {
            if (line.split(' ').contains(word)) {
                return true;
            }
        }
    }
    return false;
}

class WhoSaidWhat : public test::LaunchedProgram {
protected:
    // flite's voice saying text into a PulseAudio sink; true once it has been said.
    bool say(const QString& sink, const QString& text) {
        const QString wav = folder.filePath(QString::number(++spoken) + ".wav");
        return run("flite", {"-voice", "slt", "-t", text, "-o", wav}) &&
               run("paplay", {"--device=" + sink, wav});
    }

    QTemporaryDir folder;
    int spoken = 0;
};

TEST_F(WhoSaidWhat, EachSideIsTranscribedOnItsSpeakersLinesAndFound) {
    ASSERT_TRUE(launch());
    MainWindowController* window = shownWindow();
    ASSERT_NE(window, nullptr);
    MainViewController& content = *window->contentViewController();
    RecordTableViewController& table = *content.recordsTableView;
    const int rowsBefore = table.numberOfRows();

    QMenu* menu = test::menuTitled(*window->menuBar(), "Record");
    ASSERT_NE(menu, nullptr);
    QAction* start = test::actionTitled(*menu, "Start recording from Microphone");
    ASSERT_NE(start, nullptr);
    start->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return tray().isRecord(); }, 10000));
    // One after the other, as in a call; the far side plays to the output the call uses.
    QTest::qWait(500);
    ASSERT_TRUE(say("microphone_feed", "please send the invoice to my office on monday"));
    ASSERT_TRUE(say("@DEFAULT_SINK@", "the weather in the mountains was beautiful yesterday"));
    QTest::qWait(500);
    test::actionTitled(*menu, "Stop recording from Microphone")->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return table.numberOfRows() == rowsBefore + 1; }, 60000));
    const auto record = table.realmRecords()->at(0);
    ASSERT_NE(record, nullptr);
    const QString path = API::audioRecordsPath() + record->fileName();
    // The saved call's "You" track is written again without the echo, in the background; the
    // transcription must leave the file as that made it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tray().isStopping(); }, 60000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate->echoRemoval()->isIdle(); }, 60000));
    const QByteArray mediaMd5 = md5Of(path);
    ASSERT_FALSE(mediaMd5.isEmpty());

    int unfolded = 0;
    auto rowView = table.tableView(0, table.frameOfRow(0));
    table.recognizerText(record, *rowView, [&] { ++unfolded; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return unfolded == 1; }, 120000))
        << "no transcription stored";
    const QString text = record->recognizeText();
    std::printf("transcript:\n%s\n", qPrintable(text));
    EXPECT_TRUE(saidBy(text, "You", {"invoice", "office", "monday"})) << text.toStdString();
    EXPECT_TRUE(saidBy(text, "Them", {"weather", "mountains", "beautiful", "yesterday"}))
        << text.toStdString();
    EXPECT_FALSE(saidBy(text, "You", {"weather", "mountains", "beautiful"})) << text.toStdString();

    const QString subtitles = SubtitleWriter::subtitlePath(path);
    EXPECT_TRUE(QFileInfo(subtitles).isFile());
    EXPECT_TRUE(run("ffprobe", {"-v", "error", subtitles}));
    EXPECT_EQ(md5Of(path), mediaMd5);

    // A word only the far side said finds the record, and only it.
    QString farWord;
    for (const QString word : {"weather", "mountains", "beautiful", "yesterday"}) {
        if (farWord.isEmpty() && saidBy(text, "Them", {word})) {
            farWord = word;
        }
    }
    content.searchField->setFocus();
    QTest::keyClicks(content.searchField, farWord);
    ASSERT_TRUE(QTest::qWaitFor([&] { return table.numberOfRows() == 1; }, 5000))
        << table.numberOfRows() << " rows for " << farWord.toStdString();
    EXPECT_EQ(table.realmRecords()->at(0), record);
}

} // namespace
} // namespace orvo
