#include "transcription/Recognizer.h"

#include <memory>
#include <vector>

#include <QCoreApplication>
#include <QLocale>
#include <gtest/gtest.h>

#include "fakes/FakeSpeechRecognizer.h"
#include "platform/Platform.h"
#include "support/TestFiles.h"

namespace orvo {
namespace {

SpeechResult partial(std::vector<SpeechSegment> segments) {
    return SpeechResult{QString(), std::move(segments), false};
}

class RecognizerTest : public testing::Test {
protected:
    void SetUp() override {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        auto fake = std::make_unique<FakeSpeechRecognizer>();
        engine = fake.get();
        Platform::shared().install<SpeechRecognizer>(std::move(fake));
    }
    void TearDown() override {
        Platform::shared().clear();
        QLocale::setDefault(QLocale::c());
    }

    // A running recognizer whose handlers record what they are given.
    std::shared_ptr<Recognizer> started() {
        auto recognizer = Recognizer::create(QStringLiteral("/records/call.m4a"));
        EXPECT_NE(recognizer, nullptr);
        recognizer->progressRecognizer = [this](double seconds) { progress.push_back(seconds); };
        recognizer->complitedRecognizer = [this](std::optional<QString> text,
                                                 std::optional<SpeechError> error) {
            ++completions;
            completedText = text;
            completedError = error;
        };
        recognizer->recognizerText();
        return recognizer;
    }

    FakeSpeechRecognizer* engine = nullptr;
    std::vector<double> progress;
    int completions = 0;
    std::optional<QString> completedText;
    std::optional<SpeechError> completedError;
};

TEST_F(RecognizerTest, CannotBeMadeWithoutFileOrForALanguageWithoutModel) {
    QString console = test::capturedConsole([] { EXPECT_EQ(Recognizer::create({}), nullptr); });
    EXPECT_TRUE(console.contains("Event: error Value: Recognizer url file = nil"));

    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    console = test::capturedConsole(
        [] { EXPECT_EQ(Recognizer::create(QStringLiteral("/records/a.m4a")), nullptr); });
    EXPECT_EQ(console.count("Event: error"), 1);
    EXPECT_TRUE(console.contains("Value: Recognizer obj not create. Locale: ru_RU"));
    EXPECT_TRUE(engine->requestedFiles.empty());
}

TEST_F(RecognizerTest, ReportsProgressOfTimedSegmentsAndTheFinalTextUnchanged) {
    auto recognizer = started();
    ASSERT_EQ(engine->requestedFiles, std::vector<QString>{"/records/call.m4a"});
    auto* task = engine->lastTask;
    task->deliver(partial({}), std::nullopt);
    task->deliver(partial({{"hello", 0.0, 0.4}}), std::nullopt);
    task->deliver(partial({{"hello", 0.0, 0.4}, {"world", 1.25, 0.5}}), std::nullopt);
    EXPECT_EQ(progress, std::vector<double>{1.25});
    EXPECT_EQ(completions, 0);

    task->deliver(SpeechResult{" hello  world ", {{"hello", 0.0, 0.4}, {"world", 1.25, 0.5}}, true},
                  std::nullopt);
    EXPECT_EQ(progress, (std::vector<double>{1.25, 1.25}));
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(completedText, QString(" hello  world "));
    EXPECT_FALSE(completedError);
    EXPECT_EQ(recognizer->finalSegments().size(), 2U);
    EXPECT_TRUE(task->finished());
}

TEST_F(RecognizerTest, EmptyFinalTextCompletesWithoutErrorAndAFailureWithItsError) {
    auto recognizer = started();
    engine->lastTask->deliver(SpeechResult{QString(), {}, true}, std::nullopt);
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(completedText, QString());
    EXPECT_FALSE(completedError);
    EXPECT_TRUE(progress.empty());

    auto failing = started();
    engine->lastTask->deliver(std::nullopt,
                              SpeechError{SpeechErrorCode::unreadableFile, "no audio"});
    EXPECT_EQ(completions, 2);
    EXPECT_FALSE(completedText);
    ASSERT_TRUE(completedError);
    EXPECT_EQ(completedError->code, SpeechErrorCode::unreadableFile);
}

TEST_F(RecognizerTest, CancelBeforeTheFirstResultOnlyLogsAndReleasesTheRecognizer) {
    auto recognizer = started();
    std::weak_ptr<Recognizer> weak = recognizer;
    recognizer->recognizerCancel();
    recognizer.reset();
    // The task's handler keeps it until the cancelled task has reported.
    ASSERT_FALSE(weak.expired());

    const QString console = test::capturedConsole([] { QCoreApplication::processEvents(); });
    EXPECT_TRUE(console.contains("Event: info Value: Recognizer cancel"));
    EXPECT_TRUE(console.contains("Recognizer deinit"));
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(completions, 0);
    EXPECT_TRUE(progress.empty());
}

} // namespace
} // namespace orvo
