// The user's words transcribed from a call whose microphone heard the other side through a
// room: without the echo stage the other side's words show up as the user's; with it they do
// not, and the user's own words are still found.
#include <algorithm>
#include <atomic>
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

    // A recording as ours are made: the sides as tracks "You" and "Them".
    QString recording(const QString& name, const std::vector<float>& you,
                      const std::vector<float>& them) {
        const QString file = folder.filePath(name + ".m4a");
        EXPECT_TRUE(test::writeCallRecording(file, you, them));
        return file;
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

    const QStringList clean = youSaid(recording("clean", call.near, call.far));
    const double cleanRate = wordErrorRate(said, clean);
    for (const int delayMs : {50, 150, 300}) {
        SCOPED_TRACE(delayMs);
        const QString file =
            recording(QString::number(delayMs), test::microphoneOf(call, delayMs), call.far);
        SettingsManager::shared().writeValueSetting("NO", "RemoveEcho");
        const QStringList echoing = youSaid(file);
        SettingsManager::shared().writeValueSetting("YES", "RemoveEcho");
        const QStringList cleaned = youSaid(file);
        std::printf("delay %d ms: far side's words in \"You\" %.1f %% with the echo, %.1f %% "
                    "without; the user's word error rate %.1f %% (%.1f %% with the echo, %.1f %% "
                    "with no echo)\n",
                    delayMs, leaked(echoing) * 100, leaked(cleaned) * 100,
                    wordErrorRate(said, cleaned) * 100, wordErrorRate(said, echoing) * 100,
                    cleanRate * 100);
        EXPECT_GT(leaked(echoing), 0.2) << "the echo is heard as the user's words";
        EXPECT_LE(leaked(cleaned), 0.05);
        // Where both speak the user's words keep a trace of the echo: up to 3 of the user's 44
        // may be misheard, where the echo alone adds more words than the user said. Taking
        // WebRTC's output alone, which cuts the user there, loses most of them.
        EXPECT_GT(wordErrorRate(said, echoing), 1.0);
        EXPECT_LE(wordErrorRate(said, cleaned), cleanRate + 0.07) << qPrintable(cleaned.join(' '));

        // The file the user keeps, its "You" track written again without the echo: read as it
        // is, it gives the same.
        const QString kept = folder.filePath(QString::number(delayMs) + "-echo-free.m4a");
        const std::atomic<bool> running{false};
        const EchoFreeCopy copy = Platform::shared().get<Media>().writeWithoutEcho(
            file, kept, 0, 1, Platform::shared().get<EchoCanceller>(), running);
        ASSERT_FALSE(copy.error) << qPrintable(*copy.error);
        const QStringList fromFile = youSaid(kept);
        std::printf("delay %d ms, the file's cleaned track: far side's words in \"You\" %.1f %%; "
                    "the user's word error rate %.1f %%\n",
                    delayMs, leaked(fromFile) * 100, wordErrorRate(said, fromFile) * 100);
        EXPECT_LE(leaked(fromFile), 0.05);
        EXPECT_LE(wordErrorRate(said, fromFile), cleanRate + 0.12)
            << qPrintable(fromFile.join(' '));
    }
}

} // namespace
} // namespace orvo
