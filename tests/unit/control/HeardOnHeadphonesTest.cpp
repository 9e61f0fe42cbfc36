#include <memory>
#include <optional>

#include <QLocale>
#include <QTest>
#include <gtest/gtest.h>

#include "fakes/FakeSpeechRecognizer.h"
#include "support/RecordingFixture.h"
#include "transcription/Recognizer.h"

namespace orvo {
namespace {

using namespace test;

// A call from the output the user heard it on, through the merged file, to how "You" is
// transcribed.
class HeardOnHeadphonesTest : public RecordingFixture {
protected:
    void SetUp() override {
        RecordingFixture::SetUp();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        SettingsManager::shared().writeValueSetting("", "RemoveEcho");
        auto speech = std::make_unique<FakeSpeechRecognizer>();
        speech_ = speech.get();
        Platform::shared().install<SpeechRecognizer>(std::move(speech));
    }
    void TearDown() override {
        RecordingFixture::TearDown();
        QLocale::setDefault(QLocale::c());
    }

    struct Transcription {
        OutputKind fileSays = OutputKind::unknown;
        std::optional<int> echoOfYouFrom; // the track whose echo leaves "You"; absent: none
        QString console;
    };

    // Records a call heard on the user's output of that kind and transcribes its file.
    Transcription callHeardOn(OutputKind kind) {
        hardware_->setOutputKind(speakers, kind);
        makeController().toggleTarget(0);
        EXPECT_TRUE(QTest::qWaitFor([&] { return controller->isRecord(); }, 5000));
        const QString merged = API::audioRecordsPath() + controller->recordManager()->fileName();
        describeSegments();
        {
            // As the export names the tracks: the mix, then the sides.
            std::lock_guard lock(media_->mutex);
            auto& tracks = media_->assets[merged].tracks;
            tracks.at(1).title = "You";
            tracks.at(2).title = "Them";
        }
        bool finalised = false;
        controller->stopAndFinalise([&] { finalised = true; });
        EXPECT_TRUE(QTest::qWaitFor([&] { return finalised; }, 5000));

        Transcription transcription;
        transcription.fileSays = media_->loadAsset(merged).userOutput;
        std::shared_ptr<Recognizer> recognizer;
        transcription.console = capturedConsole([&] {
            recognizer = Recognizer::create(merged);
            recognizer->recognizerText();
        });
        for (std::size_t i = 0; i < speech_->requestedStreams.size(); ++i) {
            if (speech_->requestedStreams[i] == 1) {
                transcription.echoOfYouFrom = speech_->requestedFarStreams[i];
            }
        }
        EXPECT_EQ(speech_->requestedStreams.size(), 2u);
        recognizer->recognizerCancel();
        EXPECT_TRUE(QTest::qWaitFor([&] { return speech_->lastTask->finished(); }, 5000));
        return transcription;
    }

    FakeSpeechRecognizer* speech_ = nullptr;
};

TEST_F(HeardOnHeadphonesTest, ACallHeardOnHeadphonesIsTranscribedWithoutTheEchoStage) {
    const Transcription transcription = callHeardOn(OutputKind::headphones);
    EXPECT_EQ(transcription.fileSays, OutputKind::headphones);
    EXPECT_EQ(transcription.echoOfYouFrom, std::nullopt);
    EXPECT_TRUE(transcription.console.contains("heard on headphones"))
        << transcription.console.toStdString();
}

TEST_F(HeardOnHeadphonesTest, ACallHeardOnSpeakersKeepsTheEchoStage) {
    const Transcription transcription = callHeardOn(OutputKind::speakers);
    EXPECT_EQ(transcription.fileSays, OutputKind::speakers);
    EXPECT_EQ(transcription.echoOfYouFrom, std::optional(2));
    EXPECT_FALSE(transcription.console.contains("echo stage"))
        << transcription.console.toStdString();
}

} // namespace
} // namespace orvo
