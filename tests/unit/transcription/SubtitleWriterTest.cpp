#include "transcription/SubtitleWriter.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "support/TestFiles.h"

namespace orvo {
namespace {

TEST(SubtitleWriter, GroupsNearWordsIntoCuesInTimeOrder) {
    // Given out of order; "later" is far from the rest and starts a cue of its own.
    const QString text = SubtitleWriter::srtText(
        {{"later", 10.0, 0.5}, {"hello", 0.5, 0.4}, {" ", 0.95, 0.1}, {"there", 1.0, 0.6}});
    EXPECT_EQ(text, "1\n00:00:00,500 --> 00:00:01,600\nhello there\n\n"
                    "2\n00:00:10,000 --> 00:00:10,500\nlater\n\n");
    EXPECT_EQ(SubtitleWriter::srtText({}), "");

    // Each cue is one speaker's and names them, also when both talk at once.
    EXPECT_EQ(SubtitleWriter::srtText({{"hello", 0.0, 0.5, "You"},
                                       {"hi", 0.2, 0.4, "Them"},
                                       {"there", 0.6, 0.4, "You"},
                                       {"again", 3.0, 0.5, "Them"}}),
              "1\n00:00:00,000 --> 00:00:00,200\nYou: hello there\n\n"
              "2\n00:00:00,200 --> 00:00:00,600\nThem: hi\n\n"
              "3\n00:00:03,000 --> 00:00:03,500\nThem: again\n\n");
}

TEST(SubtitleWriter, LongSpeechIsSplitAndOverlappingCuesEndWhereTheNextBegins) {
    std::vector<SpeechSegment> words;
    for (int i = 0; i < 10; ++i) {
        words.push_back({QString("w%1").arg(i), i * 1.0, 0.9});
    }
    const QStringList lines = SubtitleWriter::srtText(words).split('\n');
    // w0..w5 fill the first six seconds; w6 starts the second cue.
    EXPECT_EQ(lines[1], "00:00:00,000 --> 00:00:05,900");
    EXPECT_EQ(lines[2], "w0 w1 w2 w3 w4 w5");
    EXPECT_EQ(lines[6], "w6 w7 w8 w9");

    const QStringList overlapping =
        SubtitleWriter::srtText({{"long", 0.0, 10.0}, {"other", 8.0, 1.0}}).split('\n');
    EXPECT_EQ(overlapping[1], "00:00:00,000 --> 00:00:08,000");
}

TEST(SubtitleWriter, WritesBesideTheMediaOrSaysWhyNot) {
    EXPECT_EQ(SubtitleWriter::timeText(0), "00:00:00,000");
    EXPECT_EQ(SubtitleWriter::timeText(3723.5), "01:02:03,500");
    EXPECT_EQ(SubtitleWriter::timeText(59.9996), "00:01:00,000");
    EXPECT_EQ(SubtitleWriter::subtitlePath("/r/Call 1.2.m4a"), "/r/Call 1.2.srt");
    QTemporaryDir dir;
    const QString media = dir.path() + "/call.m4a";
    test::writeFile(media, "media bytes");
    EXPECT_FALSE(SubtitleWriter::write(media, {{"hi", 1.0, 0.5}}));
    EXPECT_EQ(test::readFile(dir.path() + "/call.srt"), "1\n00:00:01,000 --> 00:00:01,500\nhi\n\n");
    EXPECT_EQ(test::readFile(media), "media bytes");

    EXPECT_TRUE(SubtitleWriter::write(dir.path() + "/missing/call.m4a", {{"hi", 1.0, 0.5}}));
}

} // namespace
} // namespace orvo
