#include "platform/linux/media/FFmpegMedia.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "integration/platform/ExportWait.h"
#include "integration/platform/MediaCheck.h"

namespace orvo {
namespace {

class FFmpegMediaTest : public testing::Test {
protected:
    // An AAC file of a tone that says it was captured at captureStart.
    QString capturedTone(double frequency, double amplitude, double seconds, qint64 captureStart) {
        const QString wav = test::makeTone(folder.path(), frequency, amplitude, seconds);
        const QString path =
            folder.filePath(QStringLiteral("%1-%2.m4a").arg(frequency).arg(captureStart));
        QProcess::execute("ffmpeg",
                          {"-v", "error", "-y", "-i", wav, "-c:a", "aac", "-b:a", "128k",
                           "-movflags", "+use_metadata_tags", "-metadata",
                           QStringLiteral("org.orvo.capture-start=%1").arg(captureStart), path});
        return path;
    }

    // Every file's first audio track laid at zero, as the recording engine does.
    MediaComposition overlay(const QStringList& paths) {
        MediaComposition composition;
        for (const QString& path : paths) {
            const MediaAsset asset = media.loadAsset(path);
            MediaCompositionTrack* track = composition.addMutableTrack(MediaType::audio);
            const auto source = asset.firstTrack(MediaType::audio);
            EXPECT_TRUE(source.has_value()) << path.toStdString();
            if (source) {
                EXPECT_TRUE(track->insertTimeRange(source->timeRange(), *source, 0.0));
            }
        }
        return composition;
    }

    QTemporaryDir folder;
    FFmpegMedia media;
};

TEST_F(FFmpegMediaTest, ProbesDurationTracksAndCaptureStart) {
    const QString path = capturedTone(440, 0.3, 2.0, 1700000000123456);
    const MediaAsset asset = media.loadAsset(path);
    EXPECT_NEAR(asset.durationSeconds, 2.0, 0.05);
    ASSERT_EQ(asset.tracks.size(), 1u);
    EXPECT_FALSE(asset.firstTrack(MediaType::video).has_value());
    const auto audio = asset.firstTrack(MediaType::audio);
    ASSERT_TRUE(audio.has_value());
    EXPECT_EQ(audio->captureStartMicroseconds, 1700000000123456);

    const MediaAsset missing = media.loadAsset(folder.filePath("missing.m4a"));
    EXPECT_EQ(missing.durationSeconds, 0.0);
    EXPECT_TRUE(missing.tracks.empty());
}

// A track box that lost its header, or whose id is no positive number, would have FFmpeg spend
// a third of a second on every fragment after it: such a file is refused, its intact twin read.
TEST_F(FFmpegMediaTest, RefusesAFragmentedFileWhoseTrackHasNoId) {
    const QString wav = test::makeTone(folder.path(), 440, 0.3, 2.0);
    const QString intact = folder.filePath("fragmented.m4a");
    QProcess::execute("ffmpeg", {"-v", "error", "-y", "-i", wav, "-map", "0:a", "-map", "0:a",
                                 "-c:a", "aac", "-movflags", "+frag_keyframe+empty_moov",
                                 "-frag_duration", "200000", intact});
    ASSERT_EQ(media.loadAsset(intact).tracks.size(), 2u);

    QFile file(intact);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const qsizetype header = bytes.indexOf("tkhd");
    ASSERT_GT(header, 0);
    const auto damaged = [&](const QString& name, qsizetype at, const QByteArray& with) {
        const QString path = folder.filePath(name);
        QFile out(path);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(QByteArray(bytes).replace(at, with.size(), with));
        return path;
    };
    // Version 0: type, version and flags, two times, then the id.
    const QString headerless = damaged("headerless.m4a", header, "free");
    const QString negative = damaged("negative-id.m4a", header + 16, "\xff\xff\xff\xfe");
    // A track box in a fragment far beyond the first read of the file.
    const QString far = damaged("far.m4a", bytes.size(),
                                QByteArray::fromRawData("\0\1\x11\x70"
                                                        "free",
                                                        8) +
                                    QByteArray(70000 - 8, '\0') +
                                    QByteArray::fromRawData("\0\0\0\x10moof\0\0\0\x08trak", 16));
    for (const QString& path : {headerless, negative, far}) {
        EXPECT_TRUE(media.loadAsset(path).tracks.empty()) << path.toStdString();
    }
    // Cut off while a fragment was written: what FFmpeg is shown ends before the damage.
    const QString cut = damaged("cut.m4a", bytes.size(),
                                QByteArray::fromRawData("\0\0\x10\0moof\0\0\0\x08trak", 16));
    EXPECT_EQ(media.loadAsset(cut).tracks.size(), 2u);
}

TEST_F(FFmpegMediaTest, MixesAlignedByCaptureStartWithoutHalvingOrClipping) {
    // The second source started half a second after the first.
    const QString early = capturedTone(440, 0.3, 3.0, 1700000000000000);
    const QString late = capturedTone(1000, 0.3, 3.0, 1700000000500000);
    auto session = media.makeExportSession(overlay({early, late}), exportPresetAppleM4A);
    ASSERT_NE(session, nullptr);
    const QString output = folder.filePath("mix.m4a");
    session->setOutputFileType(MediaFileType::appleM4A);
    session->setOutputPath(output);
    const test::ExportRun run = test::exportAndWait(*session);
    EXPECT_EQ(run.completions, 1);
    EXPECT_NE(run.thread, std::this_thread::get_id());
    ASSERT_EQ(run.status, ExportStatus::completed) << session->errorMessage()->toStdString();
    EXPECT_FALSE(session->errorMessage().has_value());

    const test::ProbedFile probed = test::probe(output);
    EXPECT_EQ(probed.streamCodecs, QStringList{"aac"});
    EXPECT_NEAR(probed.durationSeconds, 3.5, 0.1);
    // The index ahead of the sound, so that a player starts without reading to the end.
    ASSERT_TRUE(probed.topLevelBoxes.contains("moov") && probed.topLevelBoxes.contains("mdat"));
    EXPECT_LT(probed.topLevelBoxes.indexOf("moov"), probed.topLevelBoxes.indexOf("mdat"));
    const auto samples = test::decodeAudio(output);
    EXPECT_NEAR(test::toneAmplitude(samples, 440, 0.1, 0.4), 0.3, 0.03);
    EXPECT_LT(test::toneAmplitude(samples, 1000, 0.1, 0.4), 0.01);
    EXPECT_NEAR(test::toneAmplitude(samples, 440, 1.0, 2.5), 0.3, 0.03);
    EXPECT_NEAR(test::toneAmplitude(samples, 1000, 1.0, 2.5), 0.3, 0.03);
    EXPECT_LT(test::toneAmplitude(samples, 440, 3.1, 3.4), 0.01);

    // Loud sources whose sum would pass full scale.
    const QString loudA = capturedTone(440, 0.8, 2.0, 1);
    const QString loudB = capturedTone(1000, 0.8, 2.0, 1);
    auto loud = media.makeExportSession(overlay({loudA, loudB}), exportPresetAppleM4A);
    const QString loudOutput = folder.filePath("loud.m4a");
    loud->setOutputFileType(MediaFileType::appleM4A);
    loud->setOutputPath(loudOutput);
    ASSERT_EQ(test::exportAndWait(*loud).status, ExportStatus::completed);
    const auto loudSamples = test::decodeAudio(loudOutput);
    EXPECT_LE(test::peak(loudSamples), 1.0);
    EXPECT_GT(test::toneAmplitude(loudSamples, 440, 0.5, 1.5), 0.4);
}

TEST_F(FFmpegMediaTest, EveryExportWritesWhatTheUserListenedThroughWhenKnown) {
    const QString you = capturedTone(440, 0.3, 1.0, 1);
    const QString them = capturedTone(1000, 0.3, 1.0, 1);
    for (const QString& preset :
         {exportPresetAppleM4A, exportPresetMixAndSides, exportPresetPassthrough}) {
        for (const OutputKind kind : {OutputKind::headset, OutputKind::unknown}) {
            MediaComposition composition = overlay({you, them});
            composition.setUserOutput(kind);
            auto session = media.makeExportSession(composition, preset);
            const QString output = folder.filePath(preset + outputKindName(kind) + ".m4a");
            session->setOutputFileType(MediaFileType::appleM4A);
            session->setOutputPath(output);
            ASSERT_EQ(test::exportAndWait(*session).status, ExportStatus::completed);
            EXPECT_EQ(test::probe(output).userOutput, kind == OutputKind::unknown
                                                          ? std::nullopt
                                                          : std::optional<QString>("headset"))
                << preset.toStdString();
            EXPECT_EQ(media.loadAsset(output).userOutput, kind) << preset.toStdString();
        }
    }
}

TEST_F(FFmpegMediaTest, FailsWithAMessageAndLeavesNoFile) {
    const QString tone = capturedTone(440, 0.3, 1.0, 1);
    const MediaComposition composition = overlay({tone});
    EXPECT_EQ(media.makeExportSession(composition, "NoSuchPreset"), nullptr);

    // The source vanished after it was inserted.
    const QString gone = capturedTone(1000, 0.3, 1.0, 1);
    const MediaComposition withGone = overlay({tone, gone});
    QFile::remove(gone);
    auto session = media.makeExportSession(withGone, exportPresetAppleM4A);
    const QString output = folder.filePath("failed.m4a");
    session->setOutputFileType(MediaFileType::appleM4A);
    session->setOutputPath(output);
    const test::ExportRun run = test::exportAndWait(*session);
    EXPECT_EQ(run.completions, 1);
    EXPECT_EQ(run.status, ExportStatus::failed);
    ASSERT_TRUE(session->errorMessage().has_value());
    EXPECT_FALSE(QFileInfo::exists(output));

    // Nothing to export at all, an unwritable place, an existing file.
    auto empty = media.makeExportSession(MediaComposition(), exportPresetAppleM4A);
    empty->setOutputFileType(MediaFileType::appleM4A);
    empty->setOutputPath(folder.filePath("empty.m4a"));
    EXPECT_EQ(test::exportAndWait(*empty).status, ExportStatus::failed);

    auto unwritable = media.makeExportSession(composition, exportPresetPassthrough);
    unwritable->setOutputFileType(MediaFileType::mpeg4);
    unwritable->setOutputPath(folder.filePath("missing-folder/out.mov"));
    EXPECT_EQ(test::exportAndWait(*unwritable).status, ExportStatus::failed);

    auto existing = media.makeExportSession(composition, exportPresetAppleM4A);
    existing->setOutputFileType(MediaFileType::appleM4A);
    existing->setOutputPath(tone);
    EXPECT_EQ(test::exportAndWait(*existing).status, ExportStatus::failed);
    EXPECT_TRUE(QFileInfo::exists(tone));
}

} // namespace
} // namespace orvo
