#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "integration/platform/MediaCheck.h"
#include "platform/linux/media/FFmpegMedia.h"

namespace orvo {
namespace {

// Files as other programs write them, made by the ffmpeg tool from a tone.
class MediaImportTest : public testing::Test {
protected:
    QString made(const QString& name, const QStringList& encoding, bool withPicture = false) {
        const QString path = folder.filePath(name);
        QStringList arguments{"-v", "error", "-y", "-i", tone};
        if (withPicture) {
            arguments << "-f"
                      << "lavfi"
                      << "-i"
                      << "testsrc=size=320x240:rate=25:duration=3";
        }
        EXPECT_EQ(QProcess::execute("ffmpeg", arguments + encoding + QStringList{path}), 0);
        return path;
    }
    QString imported(const QString& source, const QString& name) {
        const QString destination = folder.filePath(name);
        const auto error = media.importFile(source, destination, notCancelled);
        EXPECT_FALSE(error.has_value()) << error.value_or(QString()).toStdString();
        return destination;
    }
    // Nothing of an import that failed is left beside it.
    QStringList leftovers() const { return QDir(folder.path()).entryList({"into*"}); }

    QTemporaryDir folder;
    const QString tone = test::makeTone(folder.path(), 440, 0.3, 3.0);
    FFmpegMedia media;
    std::atomic<bool> notCancelled{false};
};

TEST_F(MediaImportTest, SoundOfAnyCommonFormatBecomesAacAtOurRate) {
    for (const auto& [name, encoding] :
         {std::pair{QString("call.mp3"), QStringList{"-ac", "1", "-c:a", "libmp3lame"}},
          std::pair{QString("call.ogg"), QStringList{"-c:a", "libvorbis"}},
          std::pair{QString("call.wav"), QStringList{"-ar", "16000", "-c:a", "pcm_s16le"}},
          std::pair{QString("call.flac"), QStringList{"-c:a", "flac"}}}) {
        SCOPED_TRACE(name.toStdString());
        const QString source = made(name, encoding);
        const ImportPlan plan = media.planImport(source);
        EXPECT_EQ(plan.problem, ImportPlan::Problem::none);
        EXPECT_EQ(plan.kind, MediaType::audio);
        const QString result = imported(source, "into-" + name + ".m4a");
        const test::ProbedFile probed = test::probe(result);
        EXPECT_EQ(probed.streamCodecs, QStringList{"aac"});
        EXPECT_NEAR(probed.durationSeconds, 3.0, 0.1);
        // What our own recordings are read as, and the tone as it was.
        EXPECT_NEAR(media.loadAsset(result).durationSeconds, 3.0, 0.1);
        EXPECT_NEAR(test::toneAmplitude(test::decodeAudio(result), 440, 0.5, 2.5), 0.3, 0.05);
    }
}

TEST_F(MediaImportTest, AVideoKeepsItsPictureUnchangedBesideItsSound) {
    const QString source = made("meeting.mp4",
                                {"-map", "1:v", "-map", "0:a", "-c:v", "libx264", "-pix_fmt",
                                 "yuv420p", "-c:a", "aac", "-shortest"},
                                true);
    const ImportPlan plan = media.planImport(source);
    EXPECT_EQ(plan.kind, MediaType::video);
    const QString result = imported(source, "into-meeting.mov");
    const test::ProbedFile probed = test::probe(result);
    EXPECT_EQ(probed.streamTypes, (QStringList{"video", "audio"}));
    EXPECT_EQ(probed.streamCodecs, (QStringList{"h264", "aac"}));
    EXPECT_EQ(probed.videoWidth, 320);
    EXPECT_NEAR(probed.durationSeconds, 3.0, 0.2);
    EXPECT_EQ(media.loadAsset(result).tracks.size(), 2u);
}

TEST_F(MediaImportTest, WhatIsNotSoundIsRefusedAndLeavesNothing) {
    const QString text = folder.filePath("notes.mp3");
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("not a recording at all\n").repeated(200));
    file.close();
    const QString silentVideo =
        made("silent.mp4", {"-map", "1:v", "-an", "-c:v", "libx264", "-pix_fmt", "yuv420p"}, true);

    EXPECT_EQ(media.planImport(text).problem, ImportPlan::Problem::unreadable);
    EXPECT_EQ(media.planImport(silentVideo).problem, ImportPlan::Problem::noSound);
    EXPECT_EQ(media.planImport(folder.filePath("gone.wav")).problem,
              ImportPlan::Problem::unreadable);
    for (const QString& source : {text, silentVideo}) {
        EXPECT_TRUE(media.importFile(source, folder.filePath("into-x.m4a"), notCancelled));
    }
    std::atomic<bool> cancelled{true};
    EXPECT_TRUE(media.importFile(made("call.mp3", {"-c:a", "libmp3lame"}),
                                 folder.filePath("into-y.m4a"), cancelled));
    EXPECT_EQ(leftovers(), QStringList{});
}

} // namespace
} // namespace orvo
