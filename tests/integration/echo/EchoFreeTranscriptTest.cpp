// The user's words transcribed from a call whose microphone heard the other side through a
// room, recorded as the capture records it: without the echo stage the other side's words show
// up as the user's; with it they do not, and the user's own words are still found.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <vector>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include "integration/echo/CapturedCall.h"
#include "platform/Platform.h"
#include "platform/linux/echo/WebRtcEchoCanceller.h"
#include "platform/linux/media/FFmpegMedia.h"
#include "platform/linux/speech/PocketsphinxSpeechRecognizer.h"
#include "shell/CopyFiles.h"
#include "shell/SettingsManager.h"
#include "support/SyntheticCall.h"
#include "support/TestFiles.h"
#include "transcription/Recognizer.h"

namespace orvo {
namespace {

using test::SyntheticCall;

QStringList wordsOf(const QString& text) {
    return text.toLower().split(QRegularExpression("[^a-z']+"), Qt::SkipEmptyParts);
}

// The word error rate of heard against said: substitutions, deletions and insertions over the
// words said.
double wordErrorRate(const QStringList& said, const QStringList& heard) {
    std::vector<std::size_t> row(std::size_t(heard.size()) + 1);
    for (std::size_t j = 0; j < row.size(); ++j) {
        row[j] = j;
    }
    for (qsizetype i = 1; i <= said.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = std::size_t(i);
        for (qsizetype j = 1; j <= heard.size(); ++j) {
            const std::size_t above = row[std::size_t(j)];
            row[std::size_t(j)] = std::min({above + 1, row[std::size_t(j) - 1] + 1,
                                            diagonal + (said[i - 1] == heard[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return double(row.back()) / double(said.size());
}

class EchoFreeTranscriptTest : public testing::Test {
protected:
    void SetUp() override {
        // The settings file the choice is written to.
        CopyFiles::checkFilesAndCopy();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        Platform::shared().install<Media>(std::make_unique<FFmpegMedia>());
        Platform::shared().install<EchoCanceller>(std::make_unique<WebRtcEchoCanceller>());
        Platform::shared().install<SpeechRecognizer>(
            std::make_unique<PocketsphinxSpeechRecognizer>());
    }
    void TearDown() override {
        SettingsManager::shared().writeValueSetting("", "RemoveEcho");
        Platform::shared().clear();
        QLocale::setDefault(QLocale::c());
    }

    // A recording as ours are made: the mix, and the sides as tracks "You" and "Them".
    QString recording(const QString& name, const std::vector<float>& you,
                      const std::vector<float>& them, bool removeEcho) {
        const QString file = folder.filePath(name + ".m4a");
        EXPECT_TRUE(test::recordAsCaptured(file, you, them, removeEcho));
        return file;
    }

    bool echoRemoved(const QString& file) {
        return Platform::shared().get<Media>().loadAsset(file).nearSideEchoRemoved;
    }

    // What the transcript gives the user, as the program transcribes it.
    QStringList youSaid(const QString& file) {
        auto recognizer = Recognizer::create(file);
        EXPECT_NE(recognizer, nullptr);
        if (recognizer == nullptr) {
            return {};
        }
        bool completed = false;
        recognizer->complitedRecognizer = [&](auto, auto) { completed = true; };
        recognizer->recognizerText();
        for (QDeadlineTimer deadline(180000); !completed && !deadline.hasExpired();
             QThread::msleep(5)) {
            QCoreApplication::processEvents();
        }
        EXPECT_TRUE(completed);
        QString text;
        for (const auto& word : recognizer->finalSegments()) {
            if (word.speaker == QLatin1String("You")) {
                text += word.substring + " ";
            }
        }
        return wordsOf(text);
    }

    QTemporaryDir folder;
};

TEST_F(EchoFreeTranscriptTest, TheOtherSidesWordsLeaveTheUsersTranscriptAndTheUsersStay) {
    const SyntheticCall call = test::makeSyntheticCall(40);
    ASSERT_FALSE(call.far.empty()) << "flite made no speech";
    const QStringList said = wordsOf(call.nearScript);
    const QStringList farSaid = wordsOf(call.farScript);
    std::set<QString> farOnly;
    for (const QString& word : farSaid) {
        if (!said.contains(word)) {
            farOnly.insert(word);
        }
    }
    const auto leaked = [&](const QStringList& heard) {
        const auto count = std::count_if(heard.begin(), heard.end(), [&](const QString& word) {
            return farOnly.contains(word);
        });
        return double(count) / double(farSaid.size());
    };

    // Without an echo the stage hears none, and the side stays as it was recorded.
    const QString cleanFile = recording("clean", call.near, call.far, true);
    EXPECT_FALSE(echoRemoved(cleanFile));
    const QStringList clean = youSaid(cleanFile);
    const double cleanRate = wordErrorRate(said, clean);
    for (const int delayMs : {50, 150, 300}) {
        SCOPED_TRACE(delayMs);
        const std::vector<float> microphone = test::microphoneOf(call, delayMs);
        const QString recorded = recording(QString::number(delayMs), microphone, call.far, false);
        SettingsManager::shared().writeValueSetting("NO", "RemoveEcho");
        const QStringList echoing = youSaid(recorded);
        SettingsManager::shared().writeValueSetting("YES", "RemoveEcho");
        const QString file =
            recording(QString::number(delayMs) + "-echo-free", microphone, call.far, true);
        ASSERT_TRUE(echoRemoved(file));
        const QStringList cleaned = youSaid(file);
        std::printf("delay %d ms: far side's words in \"You\" %.1f %% with the echo, %.1f %% "
                    "without; the user's word error rate %.1f %% (%.1f %% with the echo, %.1f %% "
                    "with no echo)\n",
                    delayMs, leaked(echoing) * 100, leaked(cleaned) * 100,
                    wordErrorRate(said, cleaned) * 100, wordErrorRate(said, echoing) * 100,
                    cleanRate * 100);
        EXPECT_GT(leaked(echoing), 0.2) << "the echo is heard as the user's words";
        EXPECT_GT(wordErrorRate(said, echoing), 1.0);
        EXPECT_LE(leaked(cleaned), 0.05);
        // Where both speak the user's words stay. Taking WebRTC's output alone, which cuts the
        // user there, loses most of them; so does the residual suppressor on sides as captured.
        EXPECT_LE(wordErrorRate(said, cleaned), cleanRate + 0.02) << qPrintable(cleaned.join(' '));

        // A recording whose side was not cleaned while it was recorded (the choice made later)
        // loses the echo in transcription, from its coded sides: the other side's words still
        // go, though the coding noise the echo carries costs some of the user's.
        const QStringList late = youSaid(recorded);
        std::printf("delay %d ms, cleaned in transcription: far side's words in \"You\" %.1f %%; "
                    "the user's word error rate %.1f %%\n",
                    delayMs, leaked(late) * 100, wordErrorRate(said, late) * 100);
        EXPECT_LE(leaked(late), 0.05);
        EXPECT_LT(wordErrorRate(said, cleaned), wordErrorRate(said, late))
            << "the echo is best taken out before the sides are coded";
    }
}

} // namespace
} // namespace orvo
