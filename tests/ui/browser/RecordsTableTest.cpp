#include "browser/RecordTableViewController.h"

#include <initializer_list>
#include <memory>

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "browser/MainViewController.h"
#include "browser/PlayerViewController.h"
#include "browser/PopoverMenuViewController.h"
#include "browser/RecordTableModel.h"
#include "browser/RecordTableRowView.h"
#include "browser/TranscriptSaveDialog.h"
#include "browser/TranscriptWindow.h"
#include "fakes/FakeMedia.h"
#include "fakes/FakeSpeechRecognizer.h"
#include "fakes/FakeWorkspace.h"
#include "platform/Platform.h"
#include "shell/API.h"
#include "shell/CopyFiles.h"
#include "shell/Formatting.h"
#include "shell/Localization.h"
#include "store/Realm.h"
#include "store/RealmManager.h"
#include "store/RealmRecordModel.h"
#include "support/Dialogs.h"
#include "support/TestFiles.h"
#include "transcription/SubtitleWriter.h"
#include "ui/AlertDialog.h"
#include "ui/AlertManager.h"
#include "unit/store/StoreTestSupport.h"

namespace orvo {
namespace {

using test::modalAlert;

// Answers the open alert with its first button (true) or its cancel button.
void answerAlert(bool confirm) {
    ASSERT_TRUE(QTest::qWaitFor([] { return modalAlert() != nullptr; }, 2000));
    AlertDialog* alert = modalAlert();
    confirm ? alert->done(1000) : alert->done(1001);
    QCoreApplication::processEvents();
}

std::shared_ptr<RealmRecordModel> addRecord(const QString& name, int minute,
                                            const QString& recognized = QString(),
                                            bool favorite = false) {
    const QDateTime time(QDate(2024, 5, 1), QTime(10, 0).addSecs(minute * 60));
    auto record = std::make_shared<RealmRecordModel>(name, "", name + ".m4a", time, 75.0,
                                                     RecordType::audio, std::nullopt, 1.5);
    record->setRecognizeText(recognized);
    record->setFavorite(favorite);
    realm().write([&] { realm().add(record); });
    return record;
}

// A media file for each record, so that it can be played.
void writeMediaOf(std::initializer_list<std::shared_ptr<RealmRecordModel>> records) {
    for (const auto& record : records) {
        test::writeFile(API::audioRecordsPath() + record->fileName(), "x");
    }
}

class RecordsTableTest : public testing::Test {
protected:
    void SetUp() override {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        CopyFiles::checkFilesAndCopy();
        if (!Realm::defaultConfiguration()) {
            Realm::setDefaultConfiguration({API::recordsRealmPath(), 1});
        }
        test::removeAllRecords(realm());
        auto workspace = std::make_unique<FakeWorkspace>();
        workspace_ = workspace.get();
        Platform::shared().install<Workspace>(std::move(workspace));
    }
    void TearDown() override {
        window.reset();
        while (AlertDialog* open = modalAlert()) {
            delete open;
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Platform::shared().clear();
        QLocale::setDefault(QLocale::c());
    }

    RecordTableViewController& showTable() {
        window = std::make_unique<MainViewController>();
        window->resize(800, 600);
        window->show();
        QCoreApplication::processEvents();
        return *window->recordsTableView;
    }

    QStringList rows() const {
        QStringList names;
        const QAbstractItemModel& model = *window->recordsTableView->recordsTableView->model();
        for (int row = 0; row < model.rowCount(); ++row) {
            names << model.index(row, 0).data().toString();
        }
        return names;
    }

    // The middle of a row's button, in the table's viewport.
    QPoint buttonOf(int row, RecordTableRowView::Control control) {
        RecordTableViewController& table = *window->recordsTableView;
        const QRect frame =
            table.recordsTableView->visualRect(table.recordsTableView->model()->index(row, 0));
        return table.tableView(row, frame)->frameOf(control).center();
    }

    void click(const QPoint& point) {
        QTest::mouseClick(window->recordsTableView->recordsTableView->viewport(), Qt::LeftButton,
                          {}, point);
        QCoreApplication::processEvents();
    }

    FakeWorkspace* workspace_ = nullptr;
    std::unique_ptr<MainViewController> window;
};

TEST_F(RecordsTableTest, AnEmptyCatalogueSaysHowToRecordAndAnEmptySearchDoesNot) {
    RecordTableViewController& table = showTable();
    ASSERT_TRUE(table.emptyHint->isVisible());
    EXPECT_TRUE(table.emptyHint->text().contains(Localization::text("EMPTY_HOW").toHtmlEscaped()));
    window->grab().save(ORVO_SCREENSHOT_DIR "/records-empty.png");

    addRecord("First call", 1);
    QCoreApplication::processEvents();
    EXPECT_FALSE(table.emptyHint->isVisible());
    QTest::keyClicks(window->searchField, "nothing like it");
    EXPECT_EQ(table.numberOfRows(), 0);
    EXPECT_FALSE(table.emptyHint->isVisible());
    window->searchField->clear();
    test::removeAllRecords(realm());
    QCoreApplication::processEvents();
    EXPECT_TRUE(table.emptyHint->isVisible());
}

TEST_F(RecordsTableTest, SearchAndFavouritesNarrowTheListAndKeepEachOther) {
    addRecord("Call with BERTA", 1);
    addRecord("Meeting", 2, QString::fromUtf8("Über die Erde"), true);
    addRecord("Standup", 3, QString(), true);
    auto noted = addRecord("Dentist", 4);
    realm().write([&] { noted->setNote("ber in the note only"); });
    showTable();
    EXPECT_EQ(rows(), QStringList({"Dentist", "Standup", "Meeting", "Call with BERTA"}));

    // Case and marks are ignored; notes are not searched.
    QTest::keyClicks(window->searchField, "ber");
    EXPECT_EQ(rows(), QStringList({"Meeting", "Call with BERTA"}));
    window->actionFavorite();
    EXPECT_EQ(rows(), QStringList({"Meeting"}));
    window->actionFavorite();
    EXPECT_EQ(rows(), QStringList({"Meeting", "Call with BERTA"}));
    // A search text is used as typed: a leading space is part of it.
    window->searchField->clear();
    QTest::keyClicks(window->searchField, " ber");
    EXPECT_EQ(rows(), QStringList({"Call with BERTA"}));
    window->searchField->clear();
    window->actionFavorite();
    EXPECT_EQ(rows(), QStringList({"Standup", "Meeting"}));
}

TEST_F(RecordsTableTest, WritesReachTheFilteredListRowByRowAtTheirSortedPlaces) {
    addRecord("Alpha call", 10);
    auto beta = addRecord("Beta call", 20);
    addRecord("Gamma", 30);
    showTable();
    QTest::keyClicks(window->searchField, "call");
    // The new result's first notification, which reloads it.
    QCoreApplication::processEvents();
    ASSERT_EQ(rows(), QStringList({"Beta call", "Alpha call"}));

    QAbstractItemModel& model = *window->recordsTableView->recordsTableView->model();
    int resets = 0;
    QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { ++resets; });

    // A new match lands at its place by time; one that does not match stays out.
    QString console = test::capturedConsole([] {
        addRecord("Late call", 25);
        QCoreApplication::processEvents();
    });
    EXPECT_TRUE(console.contains("Deletions: 0 Insertions: 1 Modifications: 0"))
        << console.toStdString();
    addRecord("Lunch", 40);
    QCoreApplication::processEvents();
    EXPECT_EQ(rows(), QStringList({"Late call", "Beta call", "Alpha call"}));

    // A rename out of the search leaves; a rename within it updates its row.
    RealmManager::updateObjectName(beta, "Beta talk", beta->fileName());
    QCoreApplication::processEvents();
    EXPECT_EQ(rows(), QStringList({"Late call", "Alpha call"}));
    auto late = window->recordsTableView->realmRecords()->at(0);
    RealmManager::updateObjectName(late, "Late call again", late->fileName());
    QCoreApplication::processEvents();
    EXPECT_EQ(rows(), QStringList({"Late call again", "Alpha call"}));

    RealmManager::deleteObject(late);
    QCoreApplication::processEvents();
    EXPECT_EQ(rows(), QStringList({"Alpha call"}));
    EXPECT_EQ(resets, 0);
}

TEST_F(RecordsTableTest, ALengthTheCatalogueLacksIsReadOnceAwayFromPaintingThenShown) {
    auto media = std::make_unique<FakeMedia>();
    FakeMedia* files = media.get();
    const auto record = addRecord("unmeasured", 1);
    RealmManager::updateObjectDuration(record, 0);
    const QString path = *record->filePath();
    files->assets[path] = MediaAsset{path, 125.0, {}};
    Platform::shared().install<Media>(std::move(media));

    RecordTableViewController& table = showTable();
    auto* model = qobject_cast<RecordTableModel*>(table.recordsTableView->model());
    ASSERT_NE(model, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->durationOf(*record) == 125.0; }, 5000));
    for (int i = 0; i < 3; ++i) {
        table.recordsTableView->viewport()->repaint();
    }
    std::lock_guard lock(files->mutex);
    ASSERT_EQ(files->loads.size(), 1u) << "once, not at every paint";
    EXPECT_EQ(files->loads[0].first, path);
    EXPECT_NE(files->loads[0].second, std::this_thread::get_id()) << "not on the main thread";
}

TEST_F(RecordsTableTest, AMissingOrEscapingFileIsNotPlayedAndTheActiveRecordStays) {
    auto present = addRecord("Present", 1);
    auto missing = addRecord("Missing", 2);
    auto escaping = addRecord("Escaping", 3);
    realm().write([&] { escaping->setFileName("../../records.realm"); });
    test::writeFile(API::audioRecordsPath() + present->fileName(), "not really audio");
    RecordTableViewController& table = showTable();

    table.tableViewSelectionIsChanging(2);
    EXPECT_EQ(table.currentSelectRecord, present);

    for (int row : {1, 0}) {
        table.tableViewSelectionIsChanging(row);
        answerAlert(true);
        EXPECT_EQ(table.currentSelectRecord, present);
    }
    // Nothing outside the records folders is revealed either.
    table.openFinder(escaping);
    answerAlert(true);
    EXPECT_TRUE(workspace_->revealed.empty());
    table.openFinder(present);
    ASSERT_EQ(workspace_->revealed.size(), 1u);
    EXPECT_EQ(workspace_->revealed[0],
              QDir::cleanPath(API::audioRecordsPath() + present->fileName()));
}

TEST_F(RecordsTableTest, UnfoldingTwiceFoldsAndAnEditedNoteKeepsTheRowOpen) {
    auto record = addRecord("Notes", 1, "the transcript");
    RecordTableViewController& table = showTable();
    QTableView& view = *table.recordsTableView;
    const int folded = RecordTableRowView::foldedHeight();
    ASSERT_EQ(view.rowHeight(0), folded);

    const auto openedFully = [&] {
        const auto state = table.uncoverState(*record);
        return state && !state->animating;
    };
    click(buttonOf(0, RecordTableRowView::Control::subInfo));
    ASSERT_TRUE(QTest::qWaitFor(openedFully, 2000));
    const int open = view.rowHeight(0);
    EXPECT_GT(open, folded);

    // New text while open: the row stays open and grows for it.
    realm().write([&] { record->setNote("a note\nwith\nseveral\nlines"); });
    table.actionSubInfo(record);
    ASSERT_TRUE(QTest::qWaitFor(openedFully, 2000));
    EXPECT_TRUE(table.uncoverState(*record)->uncovered);
    EXPECT_GT(view.rowHeight(0), open);

    click(buttonOf(0, RecordTableRowView::Control::subInfo));
    // Folded, the row keeps nothing of its text.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !table.uncoverState(*record); }, 2000));
    EXPECT_EQ(view.rowHeight(0), folded);
}

TEST_F(RecordsTableTest, ALongTranscriptUnfoldsItsFirstLinesAndShowsWholeInAWindow) {
    // 50,000 words on one line, as a long monologue is stored.
    QStringList words;
    for (int i = 0; i < 50000; ++i) {
        words << (i == 41234 ? QStringLiteral("needle") : QStringLiteral("word%1").arg(i % 97));
    }
    const QString transcript = "You: " + words.join(' ');
    auto record = addRecord("Long call", 1, transcript);
    RecordTableViewController& table = showTable();
    QTableView& view = *table.recordsTableView;
    click(buttonOf(0, RecordTableRowView::Control::subInfo));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto state = table.uncoverState(*record);
            return state && !state->animating;
        },
        2000));
    // The row holds a screenful at most, ending in the link.
    const auto state = table.uncoverState(*record);
    EXPECT_LE(state->text.size(), RecordTableRowView::excerptCharacters + 64);
    EXPECT_TRUE(state->text.endsWith(Localization::text("SHOW_ALL")));
    EXPECT_LT(view.rowHeight(0), RecordTableRowView::foldedHeight() + 400);
    window->grab().save(ORVO_SCREENSHOT_DIR "/records-long-transcript.png");

    click(buttonOf(0, RecordTableRowView::Control::showAll));
    TranscriptWindow* whole = table.wholeTextWindow();
    ASSERT_NE(whole, nullptr);
    EXPECT_TRUE(whole->isVisible());
    EXPECT_EQ(whole->textView->toPlainText(), transcript);
    whole->findField->setText("needle");
    EXPECT_TRUE(whole->findNext());
    EXPECT_EQ(whole->textView->textCursor().selectedText(), "needle");
    EXPECT_TRUE(whole->findNext()) << "from the top again after the last";
    whole->findField->setText("haystack");
    EXPECT_FALSE(whole->findNext());
    EXPECT_TRUE(whole->lblNotFound->isVisibleTo(whole));
    whole->btnCopy->click();
    EXPECT_EQ(QApplication::clipboard()->text(), transcript);
    whole->close();
}

TEST_F(RecordsTableTest, StarAndPopoverActOnTheirRow) {
    auto record = addRecord("Starred", 1);
    RecordTableViewController& table = showTable();
    click(buttonOf(0, RecordTableRowView::Control::favorite));
    EXPECT_TRUE(record->favorite());

    // In favourites mode, taking the star away takes the row away.
    window->actionFavorite();
    ASSERT_EQ(rows(), QStringList({"Starred"}));
    click(buttonOf(0, RecordTableRowView::Control::favorite));
    EXPECT_TRUE(rows().isEmpty());
    window->actionFavorite();

    auto rowView = table.tableView(0, table.frameOfRow(0));
    rowView->actionMenu();
    ASSERT_NE(table.popover(), nullptr);
    EXPECT_TRUE(table.popover()->isVisible());
    rowView->actionMenu();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(table.popover(), nullptr);

    // An entry closes the popover before its dialog, and rename changes only the name.
    rowView->actionMenu();
    QString console = test::capturedConsole([&] {
        table.popover()->btnRename->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    });
    EXPECT_TRUE(console.contains("Deinit popover menu"));
    ASSERT_TRUE(QTest::qWaitFor([] { return modalAlert() != nullptr; }, 2000));
    auto* field = modalAlert()->findChild<QLineEdit*>();
    ASSERT_NE(field, nullptr);
    field->setText("Renamed");
    answerAlert(true);
    EXPECT_EQ(record->name(), "Renamed");
    EXPECT_EQ(record->fileName(), "Starred.m4a");
}

TEST_F(RecordsTableTest, TheKeyboardPlaysRenamesOpensTheActionsAndDeletes) {
    auto older = addRecord("Older", 1);
    auto newer = addRecord("Newer", 2);
    writeMediaOf({older, newer});
    realm().write([&] { older->setFavorite(true); });
    RecordTableViewController& table = showTable();
    QTableView& view = *table.recordsTableView;
    window->activateWindow();

    // A screen reader reads each row as it shows: name, date, duration, star.
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(&view);
    ASSERT_NE(list, nullptr);
    ASSERT_NE(list->tableInterface(), nullptr);
    QAccessibleInterface* cell = list->tableInterface()->cellAt(1, 0);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->text(QAccessible::Name), "Older, " + convertToNormalFormated(older->time()) +
                                                 ", 1:15, " +
                                                 Localization::text("ACCESSIBLE_FAVOURITE"));
    EXPECT_TRUE(cell->text(QAccessible::Description).contains("F2"));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(window->searchField)->text(QAccessible::Name),
              Localization::text("SEARCH"));

    // Ctrl+F goes to the search, the down arrow from there to the list's first row.
    QTest::keySequence(window.get(), QKeySequence::Find);
    EXPECT_TRUE(window->searchField->hasFocus());
    QTest::keyClick(window->searchField, Qt::Key_Down);
    EXPECT_TRUE(view.hasFocus());
    EXPECT_EQ(view.currentIndex().row(), 0);
    QTest::keyClick(&view, Qt::Key_Down);
    EXPECT_EQ(view.currentIndex().row(), 1);
    EXPECT_TRUE(view.selectionModel()->isRowSelected(1, {}));
    window->grab().save(ORVO_SCREENSHOT_DIR "/records-keyboard.png");

    // Return plays the row's record; Space and Return pause and play it on.
    QTest::keyClick(&view, Qt::Key_Return);
    ASSERT_EQ(table.currentSelectRecord, older);
    EXPECT_TRUE(window->isShowPlayer);
    const bool playing = window->playerViewController->isPlay;
    QTest::keyClick(&view, Qt::Key_Space);
    EXPECT_NE(window->playerViewController->isPlay, playing);
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_EQ(window->playerViewController->isPlay, playing);

    // Ctrl+D takes its star away, and gives it back.
    QTest::keyClick(&view, Qt::Key_D, Qt::ControlModifier);
    EXPECT_FALSE(older->favorite());
    QTest::keyClick(&view, Qt::Key_D, Qt::ControlModifier);
    EXPECT_TRUE(older->favorite());

    // F2 renames the row's record.
    QTest::keyClick(&view, Qt::Key_F2);
    ASSERT_TRUE(QTest::qWaitFor([] { return modalAlert() != nullptr; }, 2000));
    modalAlert()->findChild<QLineEdit*>()->setText("Renamed");
    answerAlert(true);
    EXPECT_EQ(older->name(), "Renamed");

    // The Menu key opens its actions, which the arrows and Return work through.
    view.setFocus();
    QTest::keyClick(&view, Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_NE(table.popover(), nullptr);
    EXPECT_TRUE(table.popover()->btnOpenFinder->hasFocus());
    QTest::keyClick(table.popover(), Qt::Key_Down);
    EXPECT_TRUE(table.popover()->btnRename->hasFocus());
    QTest::keyClick(table.popover(), Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(table.popover(), nullptr);

    // Delete asks first.
    view.setFocus();
    view.setCurrentIndex(view.model()->index(0, 0));
    QTest::keyClick(&view, Qt::Key_Delete);
    answerAlert(false);
    EXPECT_EQ(rows(), QStringList({"Newer", "Renamed"}));
    QTest::keyClick(&view, Qt::Key_Delete);
    answerAlert(true);
    EXPECT_EQ(rows(), QStringList({"Renamed"}));

    // Escape in the search clears it and goes back to the list.
    QTest::keySequence(window.get(), QKeySequence::Find);
    QTest::keyClicks(window->searchField, "zzz");
    EXPECT_TRUE(rows().isEmpty());
    QTest::keyClick(window->searchField, Qt::Key_Escape);
    EXPECT_EQ(rows(), QStringList({"Renamed"}));
    EXPECT_EQ(window->focusWidget(), &view);
}

TEST_F(RecordsTableTest, DeletingThePlayingRecordHidesTheStripAndKeepsTheFile) {
    auto playing = addRecord("Playing", 1);
    auto other = addRecord("Other", 2);
    writeMediaOf({playing, other});
    RecordTableViewController& table = showTable();
    table.tableViewSelectionIsChanging(1);
    EXPECT_TRUE(window->isShowPlayer);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window->layoutPlayerButtom() == MainViewController::playerShownConstant; },
        2000));

    auto rowView = table.tableView(0, table.frameOfRow(0));
    table.deleteRecord(other, *rowView);
    answerAlert(true);
    EXPECT_TRUE(window->isShowPlayer);
    EXPECT_EQ(rows(), QStringList({"Playing"}));

    rowView = table.tableView(0, table.frameOfRow(0));
    table.deleteRecord(playing, *rowView);
    answerAlert(false);
    EXPECT_EQ(rows(), QStringList({"Playing"}));
    table.deleteRecord(playing, *rowView);
    answerAlert(true);
    EXPECT_FALSE(window->isShowPlayer);
    EXPECT_EQ(table.currentSelectRecord, nullptr);
    EXPECT_EQ(window->layoutPlayerButtomTarget(), MainViewController::playerHiddenConstant);
    EXPECT_TRUE(rows().isEmpty());
    EXPECT_TRUE(QFileInfo::exists(API::audioRecordsPath() + "Playing.m4a"));
}

TEST_F(RecordsTableTest, TranscriptionStoresItsTextBesideSubtitlesAndASecondCancelsTheFirst) {
    auto fake = std::make_unique<FakeSpeechRecognizer>();
    FakeSpeechRecognizer& engine = *fake;
    Platform::shared().install<SpeechRecognizer>(std::move(fake));
    auto first = addRecord("First", 1);
    auto second = addRecord("Second", 2);
    writeMediaOf({first, second});
    RecordTableViewController& table = showTable();
    auto rowView = table.tableView(0, table.frameOfRow(0));
    int unfolded = 0;
    table.recognizerText(first, *rowView, [&] { ++unfolded; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return engine.requestedFiles.size() == 1; }, 2000));
    engine.lastTask->deliver(SpeechResult{"", {{"so", 30.0, 0.2}}, false}, std::nullopt);
    ASSERT_NE(AlertManager::shared().progressIndicator, nullptr);
    EXPECT_EQ(AlertManager::shared().progressIndicator->value(), 40); // 30 s of 75 s

    // The first must not write its text into its record later.
    QString console = test::capturedConsole([&] {
        table.recognizerText(second, *rowView, [&] { ++unfolded; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return engine.requestedFiles.size() == 2; }, 2000));
        QCoreApplication::processEvents();
    });
    EXPECT_TRUE(console.contains("Value: Recognizer cancel"));
    console = test::capturedConsole([&] {
        engine.lastTask->deliver(
            SpeechResult{"hello there", {{"hello", 1.0, 0.4}, {"there", 1.5, 0.4}}, true},
            std::nullopt);
    });
    EXPECT_TRUE(console.contains("Event: error Value: Recognizer complited with error: \n"));
    EXPECT_EQ(second->recognizeText(), "hello there");
    EXPECT_EQ(first->recognizeText(), "");
    EXPECT_EQ(test::readFile(API::audioRecordsPath() + "Second.srt"),
              "1\n00:00:01,000 --> 00:00:01,900\nhello there\n\n");
    EXPECT_EQ(unfolded, 1);

    // A failure keeps the stored text and says so.
    table.recognizerText(second, *rowView, [&] { ++unfolded; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return engine.requestedFiles.size() == 3; }, 2000));
    engine.lastTask->deliver(std::nullopt, SpeechError{SpeechErrorCode::engineFailed, "broken"});
    ASSERT_TRUE(QTest::qWaitFor(
        [] {
            return modalAlert() != nullptr &&
                   modalAlert()->informativeText() == Localization::text("RECOGNIZER_ERROR");
        },
        2000));
    answerAlert(true);
    EXPECT_EQ(second->recognizeText(), "hello there");
    EXPECT_EQ(unfolded, 1);
}

TEST_F(RecordsTableTest, ATranscriptLeavesAsTextMarkdownSubtitlesOrOnTheClipboard) {
    const QString text = "You: hello there\nThem: good morning to you";
    auto record = addRecord("Call", 1, text);
    addRecord("Silent", 2);
    const QString media = API::audioRecordsPath() + record->fileName();
    test::writeFile(media, "x");
    ASSERT_FALSE(SubtitleWriter::write(media, {{"hello", 1.0, 0.4, "You"},
                                               {"there", 1.5, 0.4, "You"},
                                               {"good", 65.0, 0.3, "Them"},
                                               {"morning", 65.4, 0.4, "Them"},
                                               {"to", 65.9, 0.2, "Them"},
                                               {"you", 66.2, 0.3, "Them"}}));
    RecordTableViewController& table = showTable();
    QTemporaryDir out;

    // Only a record with a transcript offers it.
    table.tableView(0, table.frameOfRow(0))->actionMenu();
    EXPECT_FALSE(table.popover()->btnSaveTranscript->isVisibleTo(table.popover()));
    table.popover()->close();
    const auto saveAs = [&](const QString& name, std::optional<int> type) {
        table.tableView(1, table.frameOfRow(1))->actionMenu();
        EXPECT_TRUE(table.popover()->btnSaveTranscript->isVisibleTo(table.popover()));
        table.popover()->grab().save(ORVO_SCREENSHOT_DIR "/records-transcript-actions.png");
        table.popover()->btnSaveTranscript->click();
        TranscriptSaveDialog* dialog = nullptr;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                dialog = window->findChild<TranscriptSaveDialog*>();
                return dialog != nullptr && dialog->isVisible();
            },
            2000));
        if (dialog == nullptr) {
            return;
        }
        if (type) {
            dialog->selectNameFilter(dialog->nameFilters().value(*type));
            emit dialog->filterSelected(dialog->nameFilters().value(*type));
        }
        dialog->setDirectory(out.path());
        dialog->grab().save(ORVO_SCREENSHOT_DIR "/transcript-save.png");
        // Typed as a user does, over the name the dialog proposes.
        auto* field = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(field, nullptr);
        field->selectAll();
        QTest::keyClicks(field, name);
        QMetaObject::invokeMethod(dialog, "accept");
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    };

    // The type chosen decides the form, and adds its extension.
    saveAs("call", 1);
    const QString markdown = test::readFile(out.filePath("call.md"));
    EXPECT_TRUE(markdown.startsWith("# Call\n\n")) << markdown.toStdString();
    EXPECT_TRUE(markdown.contains("\n\n[00:01] **You:** hello there\n\n[01:05] **Them:** good "
                                  "morning to you\n"))
        << markdown.toStdString();
    // So does an extension typed.
    saveAs("call.srt", std::nullopt);
    EXPECT_EQ(test::readFile(out.filePath("call.srt")),
              test::readFile(SubtitleWriter::subtitlePath(media)));
    QProcess probe;
    probe.start("ffprobe", {"-v", "error", out.filePath("call.srt")});
    EXPECT_TRUE(probe.waitForFinished(20000) && probe.exitCode() == 0);
    saveAs("call.txt", std::nullopt);
    EXPECT_EQ(test::readFile(out.filePath("call.txt")), text + "\n");

    // A folder that is not there: the user is told, nothing is written.
    saveAs("missing/call.txt", 0);
    ASSERT_TRUE(QTest::qWaitFor([] { return modalAlert() != nullptr; }, 2000));
    EXPECT_TRUE(modalAlert()->informativeText().contains(out.filePath("missing/call.txt")));
    answerAlert(true);

    table.tableView(1, table.frameOfRow(1))->actionMenu();
    table.popover()->btnCopyTranscript->click();
    EXPECT_EQ(QApplication::clipboard()->text(), text + "\n");
}

} // namespace
} // namespace orvo
