#include "ui/AlertManager.h"
#include "support/Dialogs.h"

#include <optional>
#include <vector>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace orvo {
namespace {

using test::buttonTitles;
using test::modalAlert;

struct Answer {
    bool confirmed = false;
    std::optional<QString> text;
};

// Records every answer a completion receives.
struct Answers {
    std::vector<Answer> list;

    AlertManager::Completion completion() {
        return [this](bool confirmed) { list.push_back({confirmed, std::nullopt}); };
    }
    AlertManager::TextCompletion textCompletion() {
        return [this](bool confirmed, std::optional<QString> text) {
            list.push_back({confirmed, std::move(text)});
        };
    }
};

void click(AlertDialog* alert, int index) {
    QTest::mouseClick(alert->buttons().at(index), Qt::LeftButton);
}

class AlertManagerTest : public testing::Test {
protected:
    void SetUp() override {
        window.resize(500, 400);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    void TearDown() override {
        // Answered alerts delete themselves later; none may stay open for the next test.
        while (AlertDialog* open = modalAlert()) {
            delete open;
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    AlertManager& alerts = AlertManager::shared();
    const QString cancel = AlertManager::shared().txtCancel;
    QWidget window;
    Answers answers;
};

TEST_F(AlertManagerTest, DefaultAlertOnAVisibleWindowIsASheetConfirmedOnlyByItsFirstButton) {
    const auto show = [&] {
        return alerts.showDefaultAlert(&window, "Quit?", "Recording stops.",
                                       AlertManager::AlertStyle::warning, "Quit", true, "",
                                       answers.completion());
    };

    QPointer<AlertDialog> alert = show();
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(answers.list.empty()) << "returns before it is answered";
    EXPECT_EQ(modalAlert(), alert);
    EXPECT_EQ(alert->parentWidget(), &window);
    EXPECT_EQ(alert->windowModality(), Qt::WindowModal);
    EXPECT_EQ(alert->messageText(), "Quit?");
    EXPECT_EQ(alert->informativeText(), "Recording stops.");
    EXPECT_EQ(alert->alertStyle(), AlertManager::AlertStyle::warning);
    EXPECT_EQ(buttonTitles(alert), (QStringList{"Quit", cancel})) << "empty name: the CANCEL text";
    click(alert, 0);
    ASSERT_EQ(answers.list.size(), 1u);
    EXPECT_TRUE(answers.list[0].confirmed);
    EXPECT_FALSE(alert->isVisible());

    alert = show();
    click(alert, 1);
    click(alert, 1); // a second press of a closed alert is no second answer
    ASSERT_EQ(answers.list.size(), 2u);
    EXPECT_FALSE(answers.list[1].confirmed);

    show();
    QTest::keyClick(modalAlert(), Qt::Key_Escape);
    show();
    QTest::keyClick(modalAlert(), Qt::Key_Return);
    ASSERT_EQ(answers.list.size(), 4u);
    EXPECT_FALSE(answers.list[2].confirmed) << "Escape is the cancel button";
    EXPECT_TRUE(answers.list[3].confirmed) << "Return is the first button";

    // Answered alerts go away with the next turn of the event loop.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.findChildren<AlertDialog*>().isEmpty());
}

TEST_F(AlertManagerTest, DefaultAlertWithoutAVisibleWindowIsApplicationModal) {
    window.hide(); // a closed records window
    QPointer<AlertDialog> alert =
        alerts.showDefaultAlert(&window, "Error", "Not saved.", AlertManager::AlertStyle::critical,
                                "Retry", true, "Later", answers.completion());
    EXPECT_EQ(modalAlert(), alert);
    EXPECT_EQ(alert->parentWidget(), nullptr);
    EXPECT_EQ(alert->windowModality(), Qt::ApplicationModal);
    EXPECT_TRUE(alert->isVisible());
    EXPECT_EQ(buttonTitles(alert), (QStringList{"Retry", "Later"}));
    click(alert, 1);
    ASSERT_EQ(answers.list.size(), 1u);
    EXPECT_FALSE(answers.list[0].confirmed);

    alert = alerts.showDefaultAlert(nullptr, "Saved", "Done.");
    EXPECT_EQ(alert->windowModality(), Qt::ApplicationModal);
    EXPECT_EQ(alert->alertStyle(), AlertManager::AlertStyle::informational);
    EXPECT_EQ(buttonTitles(alert), QStringList{"OK"});
    QTest::keyClick(alert, Qt::Key_Escape); // the only button answers; no completion to call
    EXPECT_FALSE(alert->isVisible());
}

// Without a window no question is shown: each is answered "no" at once, with no text.
TEST_F(AlertManagerTest, WithoutAWindowEveryQuestionIsAnsweredNoAtOnce) {
    alerts.showAlerForDelete(nullptr, "Delete", "Remove it?", "Call 1", answers.completion());
    alerts.showAlertForRename(nullptr, "Rename", "Call 1", answers.textCompletion());
    alerts.showAlertForNote(nullptr, "Note", "old", answers.textCompletion());
    ASSERT_EQ(answers.list.size(), 3u);
    for (const Answer& answer : answers.list) {
        EXPECT_FALSE(answer.confirmed);
        EXPECT_FALSE(answer.text.has_value());
    }
    EXPECT_EQ(modalAlert(), nullptr);

    int cancelCalls = 0;
    const QPointer<AlertDialog> before = alerts.loadingAlert;
    alerts.showLoadingAlert(nullptr, "Recognizing", [&] { ++cancelCalls; });
    EXPECT_EQ(modalAlert(), nullptr);
    EXPECT_EQ(alerts.loadingAlert, before);
    alerts.loadingAlertComplited(nullptr);
    EXPECT_EQ(cancelCalls, 0);
}

TEST_F(AlertManagerTest, DeleteAsksOnTheWindowEvenHidden) {
    window.hide();
    alerts.showAlerForDelete(&window, "Delete", "Remove it?", "Call 1", answers.completion());
    AlertDialog* alert = modalAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->parentWidget(), &window);
    EXPECT_EQ(alert->windowModality(), Qt::WindowModal);
    EXPECT_EQ(buttonTitles(alert), (QStringList{"OK", cancel}));
    click(alert, 0);

    window.show();
    alerts.showAlerForDelete(&window, "Delete", "Remove it?", "Call 1", answers.completion());
    click(modalAlert(), 1);
    alerts.showAlerForDelete(&window, "Delete", "Remove it?", "Call 1", answers.completion());
    QTest::keyClick(modalAlert(), Qt::Key_Escape);
    ASSERT_EQ(answers.list.size(), 3u);
    EXPECT_TRUE(answers.list[0].confirmed);
    EXPECT_FALSE(answers.list[1].confirmed);
    EXPECT_FALSE(answers.list[2].confirmed);
}

TEST_F(AlertManagerTest, RenameReturnsTheEditedTextOnlyWhenConfirmed) {
    const auto edit = [&](const QString& text) {
        AlertDialog* alert = modalAlert();
        auto* field = qobject_cast<QLineEdit*>(alert->accessoryView());
        EXPECT_EQ(field->text(), "Call 1");
        field->selectAll();
        QTest::keyClicks(field, text);
        return field;
    };

    alerts.showAlertForRename(&window, "Rename", "Call 1", answers.textCompletion());
    EXPECT_EQ(modalAlert()->windowModality(), Qt::WindowModal);
    EXPECT_EQ(buttonTitles(modalAlert()), (QStringList{"OK", cancel}));
    QTest::keyClick(edit("Interview"), Qt::Key_Return);

    alerts.showAlertForRename(&window, "Rename", "Call 1", answers.textCompletion());
    edit("Discarded");
    click(modalAlert(), 1);

    alerts.showAlertForRename(&window, "Rename", "Call 1", answers.textCompletion());
    QTest::keyClick(edit("Also discarded"), Qt::Key_Escape);

    alerts.showAlertForRename(&window, "Rename", "Call 1", answers.textCompletion());
    click(modalAlert(), 0); // unedited

    ASSERT_EQ(answers.list.size(), 4u);
    EXPECT_TRUE(answers.list[0].confirmed);
    EXPECT_EQ(answers.list[0].text, "Interview");
    for (int i : {1, 2}) {
        EXPECT_FALSE(answers.list[i].confirmed);
        EXPECT_FALSE(answers.list[i].text.has_value()) << "no text, although it was edited";
    }
    EXPECT_EQ(answers.list[3].text, "Call 1");
}

TEST_F(AlertManagerTest, NoteEditorTakesLinesAndReturnsThemOnlyWhenConfirmed) {
    alerts.showAlertForNote(&window, "Note", "First line", answers.textCompletion());
    AlertDialog* alert = modalAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->parentWidget(), &window);
    auto* editor = qobject_cast<QPlainTextEdit*>(alert->accessoryView());
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(alert->focusWidget(), editor);
    EXPECT_EQ(editor->toPlainText(), "First line");
    editor->moveCursor(QTextCursor::End);
    QTest::keyClick(editor, Qt::Key_Return); // a new line, not an answer
    QTest::keyClicks(editor, "second");
    EXPECT_TRUE(alert->isVisible());
    click(alert, 0);

    alerts.showAlertForNote(&window, "Note", "First line", answers.textCompletion());
    QTest::keyClicks(qobject_cast<QPlainTextEdit*>(modalAlert()->accessoryView()), "!");
    click(modalAlert(), 1);

    ASSERT_EQ(answers.list.size(), 2u);
    EXPECT_TRUE(answers.list[0].confirmed);
    EXPECT_EQ(answers.list[0].text, "First line\nsecond");
    EXPECT_FALSE(answers.list[1].confirmed);
    EXPECT_FALSE(answers.list[1].text.has_value());
}

class LoadingAlertTest : public AlertManagerTest {
protected:
    std::function<void()> handler() {
        return [this] { ++cancelCalls; };
    }
    int cancelCalls = 0;
};

TEST_F(LoadingAlertTest, CompletionFillsTheBarEndsTheSheetAndRunsTheHandlerOnce) {
    alerts.showLoadingAlert(&window, "Recognizing", handler());
    AlertDialog* sheet = alerts.loadingAlert;
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(modalAlert(), sheet);
    EXPECT_EQ(sheet->parentWidget(), &window);
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->messageText(), "Recognizing");
    EXPECT_EQ(buttonTitles(sheet), QStringList{cancel});
    QProgressBar* bar = alerts.progressIndicator;
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->value(), 0);

    QWidget other;
    alerts.loadingAlertComplited(&other);
    EXPECT_TRUE(sheet->isVisible()) << "another window has no such sheet";
    EXPECT_EQ(cancelCalls, 0);

    alerts.loadingAlertComplited(&window);
    EXPECT_EQ(bar->value(), 100);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(cancelCalls, 1);
    alerts.loadingAlertComplited(&window);
    QTest::mouseClick(sheet->buttons().at(0), Qt::LeftButton);
    EXPECT_EQ(cancelCalls, 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(alerts.progressIndicator, bar) << "kept until the next loading sheet";
}

TEST_F(LoadingAlertTest, CancelRunsTheHandlerOnceAlsoWhenCompletedOrCancelledAgain) {
    alerts.showLoadingAlert(&window, "Recognizing", handler());
    AlertDialog* sheet = alerts.loadingAlert;
    QTest::mouseClick(sheet->buttons().at(0), Qt::LeftButton);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(cancelCalls, 1);
    QTest::mouseClick(sheet->buttons().at(0), Qt::LeftButton);
    QTest::keyClick(sheet, Qt::Key_Escape);
    alerts.loadingAlertComplited(&window);
    EXPECT_EQ(cancelCalls, 1);
    EXPECT_EQ(alerts.progressIndicator->value(), 100);

    alerts.showLoadingAlert(&window, "Recognizing", handler());
    QTest::keyClick(alerts.loadingAlert, Qt::Key_Escape);
    EXPECT_EQ(cancelCalls, 2) << "Escape is the cancel button";
}

TEST_F(LoadingAlertTest, ANewSheetEndsTheOneStillShownAndStartsEmpty) {
    int firstCalls = 0;
    alerts.showLoadingAlert(&window, "First", [&] { ++firstCalls; });
    const QPointer<AlertDialog> first = alerts.loadingAlert;
    alerts.progressIndicator->setValue(70);

    alerts.showLoadingAlert(&window, "Second", handler());
    EXPECT_EQ(firstCalls, 1);
    EXPECT_EQ(modalAlert(), alerts.loadingAlert);
    EXPECT_EQ(alerts.progressIndicator->value(), 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(first, nullptr);
    alerts.loadingAlertComplited(&window);
    EXPECT_EQ(firstCalls, 1);
    EXPECT_EQ(cancelCalls, 1);
}

} // namespace
} // namespace orvo
