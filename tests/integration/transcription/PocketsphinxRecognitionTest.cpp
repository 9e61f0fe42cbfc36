#include "platform/linux/speech/PocketsphinxSpeechRecognizer.h"

#include <algorithm>
#include <memory>
#include <vector>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include "platform/Platform.h"
#include "support/TestFiles.h"
#include "transcription/Recognizer.h"
#include "transcription/SubtitleWriter.h"

namespace orvo {
namespace {

bool run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// Keeps the main loop turning, where the results arrive, until condition holds.
bool spinUntil(const std::function<bool()>& condition, int timeoutMs) {
    for (QDeadlineTimer deadline(timeoutMs); !deadline.hasExpired(); QThread::msleep(5)) {
        QCoreApplication::processEvents();
        if (condition()) {
            return true;
        }
    }
    return condition();
}

class PocketsphinxRecognitionTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        auto backend = std::make_unique<PocketsphinxSpeechRecognizer>();
        engine = backend.get();
        Platform::shared().install<SpeechRecognizer>(std::move(backend));
    }
    void TearDown() override {
        Platform::shared().clear();
        QLocale::setDefault(QLocale::c());
    }

    // Speech of flite's voice, each time followed by a second of silence, encoded as our
    // recordings are: AAC in an .m4a.
    QString spoken(const QString& name, const QString& text, int repeats = 1) {
        const QString wav = dir.filePath(name + ".wav");
        const QString padded = dir.filePath(name + "-padded.wav");
        const QString m4a = dir.filePath(name + ".m4a");
        EXPECT_TRUE(run("flite", {"-voice", "slt", "-t", text, "-o", wav}));
        EXPECT_TRUE(
            run("ffmpeg", {"-v", "error", "-y", "-i", wav, "-af", "apad=pad_dur=1", padded}));
        EXPECT_TRUE(
            run("ffmpeg", {"-v", "error", "-y", "-stream_loop", QString::number(repeats - 1), "-i",
                           padded, "-ac", "2", "-ar", "48000", "-c:a", "aac", m4a}));
        return m4a;
    }

    QTemporaryDir dir;
    PocketsphinxSpeechRecognizer* engine = nullptr;
};

TEST_F(PocketsphinxRecognitionTest, FindsTheSpokenWordsWithTimesAndSubtitlesThatPlayersRead) {
    const QString media =
        spoken("call", "the weather is nice today. please call me back tomorrow morning.");
    const QByteArray mediaBytes = test::readFile(media);
    auto recognizer = Recognizer::create(media);
    ASSERT_NE(recognizer, nullptr);
    std::vector<double> progress;
    std::optional<QString> text;
    std::optional<SpeechError> error;
    bool completed = false;
    recognizer->progressRecognizer = [&](double seconds) { progress.push_back(seconds); };
    recognizer->complitedRecognizer = [&](std::optional<QString> t, std::optional<SpeechError> e) {
        text = t;
        error = e;
        completed = true;
    };
    recognizer->recognizerText();
    ASSERT_TRUE(spinUntil([&] { return completed; }, 60000));

    ASSERT_FALSE(error) << error->message.toStdString();
    ASSERT_TRUE(text);
    int found = 0;
    for (const char* word : {"weather", "today", "call", "tomorrow", "morning"}) {
        found += text->contains(word) ? 1 : 0;
    }
    EXPECT_GE(found, 3) << text->toStdString();
    ASSERT_FALSE(progress.empty());
    for (double seconds : progress) {
        EXPECT_GT(seconds, 0);
        EXPECT_LT(seconds, 4.5);
    }
    const auto& words = recognizer->finalSegments();
    ASSERT_GE(words.size(), 5U);
    for (std::size_t i = 1; i < words.size(); ++i) {
        EXPECT_GE(words[i].timestampSeconds, words[i - 1].timestampSeconds);
    }
    EXPECT_LT(words.front().timestampSeconds, 1.0);
    EXPECT_GT(words.back().timestampSeconds, 2.0);

    ASSERT_FALSE(SubtitleWriter::write(media, words));
    EXPECT_TRUE(run("ffprobe", {"-v", "error", SubtitleWriter::subtitlePath(media)}));
    EXPECT_EQ(test::readFile(media), mediaBytes);
}

TEST_F(PocketsphinxRecognitionTest, ALongUtteranceWithoutPausesReportsProgressWhileItLasts) {
    // About nine seconds of counting without a pause: one utterance.
    const QString media = spoken("counting", "one two three four five six seven eight nine ten "
                                             "eleven twelve thirteen fourteen fifteen sixteen "
                                             "seventeen eighteen nineteen twenty twenty one");
    auto recognizer = Recognizer::create(media);
    ASSERT_NE(recognizer, nullptr);
    std::vector<double> progress;
    bool completed = false;
    recognizer->progressRecognizer = [&](double seconds) { progress.push_back(seconds); };
    recognizer->complitedRecognizer = [&](auto, auto) { completed = true; };
    recognizer->recognizerText();
    ASSERT_TRUE(spinUntil([&] { return completed; }, 60000));
    // The last call comes with the final result; the others while the utterance went on.
    ASSERT_GE(progress.size(), 3U);
    EXPECT_LT(progress.front(), 4.0);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
}

TEST_F(PocketsphinxRecognitionTest, PartialResultsCarryTheirStretchAndTheFinalEveryWord) {
    // Three stretches with a pause after each: a partial result repeating what came before
    // would make a long call cost the square of its length.
    const QString media = spoken("stretches", "please call me back tomorrow morning.", 3);
    std::size_t largestPartial = 0;
    std::optional<SpeechResult> final;
    auto task = engine->recognitionTask(
        QLocale(QLocale::English), media, std::nullopt, true,
        [&](std::optional<SpeechResult> result, std::optional<SpeechError>) {
            if (result && !result->isFinal) {
                largestPartial = std::max(largestPartial, result->segments.size());
            } else {
                final = result.value_or(SpeechResult{QString(), {}, true});
            }
        });
    ASSERT_NE(task, nullptr);
    ASSERT_TRUE(spinUntil([&] { return final.has_value(); }, 60000));
    EXPECT_EQ(final->formattedString.count("tomorrow"), 3) << final->formattedString.toStdString();
    EXPECT_GT(largestPartial, 0U);
    EXPECT_LE(largestPartial * 2, final->segments.size());
}

TEST_F(PocketsphinxRecognitionTest, CancelEndsWithoutCompletionAndStopsTheWorker) {
    const QString media = spoken("long", "one two three four five six seven eight nine ten.", 12);
    auto recognizer = Recognizer::create(media);
    ASSERT_NE(recognizer, nullptr);
    bool completed = false;
    bool progressed = false;
    recognizer->complitedRecognizer = [&](auto, auto) { completed = true; };
    recognizer->progressRecognizer = [&](double) { progressed = true; };
    recognizer->recognizerText();
    ASSERT_TRUE(spinUntil([&] { return progressed; }, 60000));
    std::weak_ptr<Recognizer> weak = recognizer;
    recognizer->recognizerCancel();
    recognizer.reset();
    const QString console =
        test::capturedConsole([&] { spinUntil([&] { return weak.expired(); }, 2000); });
    EXPECT_TRUE(weak.expired());
    EXPECT_TRUE(console.contains("Event: info Value: Recognizer cancel"));
    EXPECT_FALSE(completed);
    // The worker's results after the cancel never reach the main thread.
    spinUntil([] { return false; }, 300);
    EXPECT_FALSE(completed);
}

TEST_F(PocketsphinxRecognitionTest, OnlyLanguagesWithAnInstalledModelAndReadableFiles) {
    EXPECT_TRUE(engine->supportsLocale(QLocale(QLocale::English, QLocale::UnitedKingdom)));
    EXPECT_FALSE(engine->supportsLocale(QLocale(QLocale::Russian, QLocale::Russia)));
    EXPECT_FALSE(
        PocketsphinxSpeechRecognizer(dir.path()).supportsLocale(QLocale(QLocale::English)));

    test::writeFile(dir.filePath("broken.m4a"), "not a media file");
    std::optional<SpeechError> error;
    bool called = false;
    auto task = engine->recognitionTask(QLocale(QLocale::English), dir.filePath("broken.m4a"),
                                        std::nullopt, true, [&](auto result, auto e) {
                                            called = true;
                                            EXPECT_FALSE(result);
                                            error = e;
                                        });
    ASSERT_TRUE(spinUntil([&] { return called; }, 10000));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, SpeechErrorCode::unreadableFile);
}

} // namespace
} // namespace orvo
