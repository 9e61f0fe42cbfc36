#include "transcription/TranscriptExport.h"

#include <gtest/gtest.h>

namespace orvo {
namespace {

TEST(TranscriptExport, MarkdownTimesEachTurnFromTheSubtitlesAndKeepsTheTextWithout) {
    const QDateTime time(QDate(2024, 5, 1), QTime(10, 0));
    const QString text = "You: hello\nThem: good day";
    // Cues of one speaker in a row are one turn; a damaged cue is left out, the rest stay.
    const QString subtitles = "1\n00:00:01,000 --> 00:00:02,000\nYou: hello\n\n"
                              "2\n01:02:03,500 --> 01:02:04,000\nThem: good\n\n"
                              "3\nnot a time\nThem: lost\n\n"
                              "4\n01:02:04,000 --> 01:02:05,000\nday\r\n\r\n";
    const TranscriptExport timed("Call", time, text, subtitles);
    const auto turns = timed.turns();
    ASSERT_EQ(turns.size(), 3U);
    EXPECT_EQ(turns[1].speaker, "Them");
    EXPECT_EQ(turns[2].words, "day");
    const QString markdown = timed.markdown();
    EXPECT_TRUE(markdown.startsWith("# Call\n\n"));
    EXPECT_TRUE(markdown.endsWith("[00:01] **You:** hello\n\n[62:03] **Them:** good\n\n"
                                  "[62:04] day\n"))
        << markdown.toStdString();

    const TranscriptExport untimed("Call", time, text, std::nullopt);
    EXPECT_TRUE(untimed.markdown().endsWith("**You:** hello\n\n**Them:** good day\n"));
    EXPECT_FALSE(untimed.formatted(TranscriptFormat::subtitles));
    EXPECT_EQ(untimed.formatted(TranscriptFormat::plainText), text + "\n");

    const TranscriptExport empty("Call", time, " \n", subtitles);
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_FALSE(empty.formatted(TranscriptFormat::markdown));
    EXPECT_EQ(TranscriptExport::formatOfPath("/a/b.MD"), TranscriptFormat::markdown);
    EXPECT_EQ(TranscriptExport::formatOfPath("/a/b.srt"), TranscriptFormat::subtitles);
    EXPECT_EQ(TranscriptExport::formatOfPath("/a/b"), TranscriptFormat::plainText);
}

} // namespace
} // namespace orvo
