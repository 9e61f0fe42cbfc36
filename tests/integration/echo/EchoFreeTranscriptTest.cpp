// The user's words transcribed from a call whose microphone heard the other side through a
// room: without the echo stage the other side's words show up as the user's; with it they do
// not, and the user's own words are still found.
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

void writeWav(const QString& path, const std::vector<float>& samples) {
    QByteArray data;
    for (const float sample : samples) {
        const auto value = std::int16_t(std::clamp(sample * 32768.0f, -32768.0f, 32767.0f));
        data.append(reinterpret_cast<const char*>(&value), 2);
    }
    QByteArray header("RIFF");
    const auto put32 = [&](std::uint32_t value) {
        header.append(reinterpret_cast<const char*>(&value), 4);
    };
    const auto put16 = [&](std::uint16_t value) {
        header.append(reinterpret_cast<const char*>(&value), 2);
    };
    put32(std::uint32_t(36 + data.size()));
    header.append("WAVEfmt ");
    put32(16);
    put16(1);
    put16(1);
    put32(SyntheticCall::rate);
    put32(SyntheticCall::rate * 2);
    put16(2);
    put16(16);
    header.append("data");
    put32(std::uint32_t(data.size()));
    test::writeFile(path, header + data);
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
        const QString youWav = folder.filePath(name + "-you.wav");
        const QString themWav = folder.filePath(name + "-them.wav");
        const QString file = folder.filePath(name + ".m4a");
        writeWav(youWav, you);
        writeWav(themWav, them);
        // The side's name goes where our recorder puts it: the track's handler.
        const QStringList arguments{"-v",
                                    "error",
                                    "-y",
                                    "-i",
                                    youWav,
                                    "-i",
                                    themWav,
                                    "-map",
                                    "0:a",
                                    "-map",
                                    "1:a",
                                    "-c:a",
                                    "aac",
                                    "-b:a",
                                    "96k",
                                    "-metadata:s:a:0",
                                    "handler_name=You",
                                    "-metadata:s:a:1",
                                    "handler_name=Them",
                                    file};
        QProcess ffmpeg;
        ffmpeg.start("ffmpeg", arguments);
        EXPECT_TRUE(ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0);
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
                    "without; the user's word error rate %.1f %% (%.1f %% with no echo)\n",
                    delayMs, leaked(echoing) * 100, leaked(cleaned) * 100,
                    wordErrorRate(said, cleaned) * 100, cleanRate * 100);
        EXPECT_GT(leaked(echoing), 0.2) << "the echo is heard as the user's words";
        EXPECT_LE(leaked(cleaned), 0.05);
        // Where both speak the user's words keep a trace of the echo: a few of the user's 27
        // are misheard or added, where the echo alone added more words than the user said.
        // Taking WebRTC's output alone, which cuts the user there, loses most of them.
        EXPECT_GT(wordErrorRate(said, echoing), 1.0);
        EXPECT_LE(wordErrorRate(said, cleaned), cleanRate + 0.33) << qPrintable(cleaned.join(' '));
    }
}

} // namespace
} // namespace orvo
