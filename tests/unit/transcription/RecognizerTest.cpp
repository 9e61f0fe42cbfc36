#include "transcription/Recognizer.h"

#include "shell/SettingsManager.h"

#include <memory>
#include <vector>

#include <QCoreApplication>
#include <QLocale>
#include <gtest/gtest.h>

#include "fakes/FakeMedia.h"
#include "fakes/FakeSpeechRecognizer.h"
#include "platform/Platform.h"
#include "support/TestFiles.h"

namespace orvo {
namespace {

SpeechResult partial(std::vector<SpeechSegment> segments) {
    return SpeechResult{QString(), std::move(segments), false};
}

SpeechResult final(std::vector<SpeechSegment> segments) {
    return SpeechResult{QString("ignored"), std::move(segments), true};
}

// A call as our recorder keeps it: the mix, then a track per side.
MediaAsset callAsset(const QString& path) {
    MediaAsset asset{path, 10.0, {}};
    const QString titles[] = {"SoundHandler", "You", "Them"};
    for (int i = 0; i < 3; ++i) {
        asset.tracks.push_back({MediaType::audio, path, i, 10.0, std::nullopt, titles[i]});
    }
    return asset;
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
    std::shared_ptr<Recognizer> started(const QString& path = QStringLiteral("/records/call.m4a")) {
        auto recognizer = Recognizer::create(path);
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

    // A recognizer of a file with a track per side, its tasks those of the near and far side.
    std::shared_ptr<Recognizer> startedOnCall() {
        auto media = std::make_unique<FakeMedia>();
        media->assets["/records/sides.m4a"] = callAsset("/records/sides.m4a");
        Platform::shared().install<Media>(std::move(media));
        auto recognizer = started(QStringLiteral("/records/sides.m4a"));
        const auto& streams = engine->requestedStreams;
        EXPECT_EQ(std::vector(streams.end() - 2, streams.end()),
                  (std::vector<std::optional<int>>{1, 2}));
        // The user's words come without the other side's echo, unless the user said no.
        const auto& far = engine->requestedFarStreams;
        const bool removes = SettingsManager::shared().getValue("RemoveEcho") != "NO";
        EXPECT_EQ(std::vector(far.end() - 2, far.end()),
                  (std::vector<std::optional<int>>{removes ? std::optional(2) : std::nullopt,
                                                   std::nullopt}));
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

TEST_F(RecognizerTest, ReportsProgressOfTimedSegmentsAndTheFinalTextOrItsError) {
    auto recognizer = started();
    ASSERT_EQ(engine->requestedFiles, std::vector<QString>{"/records/call.m4a"});
    EXPECT_EQ(engine->requestedStreams, std::vector<std::optional<int>>{std::nullopt});
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

    // An empty final text completes without error, a failure with its error.
    auto empty = started();
    engine->lastTask->deliver(SpeechResult{QString(), {}, true}, std::nullopt);
    EXPECT_EQ(completions, 2);
    EXPECT_EQ(completedText, QString());
    EXPECT_FALSE(completedError);
    EXPECT_EQ(progress.size(), 2U) << "no progress without timed words";

    auto failing = started();
    engine->lastTask->deliver(std::nullopt,
                              SpeechError{SpeechErrorCode::unreadableFile, "no audio"});
    EXPECT_EQ(completions, 3);
    EXPECT_FALSE(completedText);
    ASSERT_TRUE(completedError);
    EXPECT_EQ(completedError->code, SpeechErrorCode::unreadableFile);
}

TEST_F(RecognizerTest, SidesOfACallAreTranscribedAtOnceIntoLinesOfTheirSpeakers) {
    auto recognizer = startedOnCall();
    ASSERT_EQ(engine->tasks.size(), 2U);
    auto* you = engine->tasks[0];
    auto* them = engine->tasks[1];
    you->deliver(partial({{"hello", 0.5, 0.4}}), std::nullopt);
    them->deliver(partial({{"hi", 2.5, 0.3}}), std::nullopt);
    EXPECT_EQ(progress, (std::vector<double>{0.25, 1.5}));

    // The far side ends first; an ended side counts as the whole file.
    them->deliver(final({{"hi", 2.5, 0.3}, {"yes", 3.2, 0.3}, {"bye", 9.0, 0.3}}), std::nullopt);
    EXPECT_EQ(completions, 0);
    EXPECT_EQ(progress.back(), 5.25);
    // A phrase of the far side overlaps the near one's: its words stay together.
    you->deliver(final({{"hello", 0.5, 0.4},
                        {"how", 3.0, 0.2},
                        {"are", 3.3, 0.2},
                        {"you", 3.6, 0.2},
                        {"fine", 5.0, 0.4}}),
                 std::nullopt);
    EXPECT_EQ(progress.back(), 10.0);
    EXPECT_EQ(completions, 1);
    EXPECT_FALSE(completedError);
    EXPECT_EQ(completedText, QString("You: hello\nThem: hi yes\nYou: how are you fine\nThem: bye"));
    const auto& words = recognizer->finalSegments();
    ASSERT_EQ(words.size(), 8U);
    EXPECT_EQ(words[1].substring, "hi");
    EXPECT_EQ(words[1].speaker, "Them");
    EXPECT_TRUE(you->finished());
    EXPECT_TRUE(them->finished());
}

TEST_F(RecognizerTest, SpeakersSpeakTheLanguageOfTheLocaleAndSilentSidesSayNothing) {
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    engine->languages.insert(QLocale::Russian);
    auto recognizer = startedOnCall();
    engine->tasks[0]->deliver(final({{"da", 1.0, 0.2}}), std::nullopt);
    engine->tasks[1]->deliver(final({}), std::nullopt);
    EXPECT_EQ(completedText, QString("Вы: da"));

    SettingsManager::shared().writeValueSetting("NO", "RemoveEcho");
    auto silent = startedOnCall();
    SettingsManager::shared().writeValueSetting("", "RemoveEcho");
    engine->tasks[2]->deliver(final({}), std::nullopt);
    engine->tasks[3]->deliver(final({}), std::nullopt);
    EXPECT_EQ(completedText, QString());
    EXPECT_FALSE(completedError);
    EXPECT_EQ(completions, 2);
}

TEST_F(RecognizerTest, CancelOrAFailedSideStopsBothSides) {
    auto recognizer = startedOnCall();
    recognizer->recognizerCancel();
    const QString console = test::capturedConsole([] { QCoreApplication::processEvents(); });
    EXPECT_EQ(console.count("Recognizer cancel"), 1);
    EXPECT_TRUE(engine->tasks[0]->isCancelled());
    EXPECT_TRUE(engine->tasks[1]->isCancelled());
    EXPECT_TRUE(engine->tasks[1]->finished());
    EXPECT_EQ(completions, 0);

    auto failing = startedOnCall();
    engine->tasks[2]->deliver(partial({{"a", 1.0, 0.2}}), std::nullopt);
    engine->tasks[3]->deliver(std::nullopt, SpeechError{SpeechErrorCode::engineFailed, "model"});
    EXPECT_EQ(completions, 1);
    ASSERT_TRUE(completedError);
    EXPECT_EQ(completedError->code, SpeechErrorCode::engineFailed);
    EXPECT_TRUE(engine->tasks[2]->isCancelled());
    EXPECT_TRUE(engine->tasks[2]->finished());
    QCoreApplication::processEvents();
    EXPECT_EQ(completions, 1);
}

} // namespace
} // namespace orvo
