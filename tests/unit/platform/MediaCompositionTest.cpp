#include "platform/MediaComposition.h"

#include <gtest/gtest.h>

#include "platform/Media.h"

namespace orvo {
namespace {

MediaAssetTrack track(MediaType type, double seconds, std::optional<std::int64_t> start = {}) {
    return {type, "/records/x.m4a", 0, seconds, start};
}

TEST(MediaComposition, ChoosesFreeTrackIDsAndRefusesTakenOnesAndUnknownMedia) {
    MediaComposition composition;
    MediaCompositionTrack* first = composition.addMutableTrack(MediaType::audio);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->trackID(), 1);
    ASSERT_NE(composition.addMutableTrack(MediaType::video, 3), nullptr);
    EXPECT_EQ(composition.addMutableTrack(MediaType::audio, 3), nullptr);
    EXPECT_EQ(composition.addMutableTrack(MediaType::unknown), nullptr);
    EXPECT_EQ(composition.addMutableTrack(MediaType::audio)->trackID(), 2);
    EXPECT_EQ(composition.addMutableTrack(MediaType::audio)->trackID(), 4);
    // Tracks stay where they are while more are added.
    EXPECT_EQ(first->trackID(), 1);
    EXPECT_EQ(composition.tracks().size(), 4u);
    EXPECT_EQ(composition.tracks(MediaType::video).size(), 1u);
}

TEST(MediaComposition, InsertsOnlyRangesOfItsOwnMediaInsideTheSource) {
    MediaComposition composition;
    MediaCompositionTrack* audio = composition.addMutableTrack(MediaType::audio);
    const MediaAssetTrack source = track(MediaType::audio, 5.0);
    QString error;
    EXPECT_FALSE(audio->insertTimeRange({0.0, 5.0}, track(MediaType::video, 5.0), 0.0, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(audio->insertTimeRange({1.0, 4.5}, source, 0.0));
    EXPECT_FALSE(audio->insertTimeRange({0.0, 0.0}, source, 0.0));
    EXPECT_FALSE(audio->insertTimeRange({0.0, 1.0}, source, -1.0));
    EXPECT_TRUE(audio->segments().empty());

    EXPECT_TRUE(audio->insertTimeRange(source.timeRange(), source, 0.0));
    EXPECT_TRUE(audio->insertTimeRange({1.0, 2.0}, source, 7.0));
    ASSERT_EQ(audio->segments().size(), 2u);
    EXPECT_EQ(audio->segments()[1].sourceRange.endSeconds(), 3.0);
    EXPECT_EQ(audio->segments()[1].targetStartSeconds, 7.0);
}

TEST(MediaComposition, PlacesCapturesByTheirStartOnTheSharedClock) {
    MediaComposition composition;
    const auto microphone = track(MediaType::audio, 5.0, 1'000'000'012'000);
    const auto driver = track(MediaType::audio, 5.0, 1'000'000'000'000);
    const auto screen = track(MediaType::video, 5.0, 1'000'000'250'000);
    const auto foreign = track(MediaType::audio, 5.0);
    composition.addMutableTrack(MediaType::audio)->insertTimeRange({0, 5}, microphone, 0.0);
    composition.addMutableTrack(MediaType::audio)->insertTimeRange({0, 5}, driver, 0.0);
    composition.addMutableTrack(MediaType::video)->insertTimeRange({0, 5}, screen, 0.0);
    MediaCompositionTrack* last = composition.addMutableTrack(MediaType::audio);
    last->insertTimeRange({0, 5}, foreign, 2.0);
    last->insertTimeRange({0, 1}, driver, 10.0);

    const auto starts = composition.alignedStartSeconds();
    ASSERT_EQ(starts.size(), 4u);
    EXPECT_DOUBLE_EQ(starts[0][0], 0.012);
    EXPECT_DOUBLE_EQ(starts[1][0], 0.0);
    EXPECT_DOUBLE_EQ(starts[2][0], 0.25);
    // A file without a capture start stays where it was put.
    EXPECT_DOUBLE_EQ(starts[3][0], 2.0);
    EXPECT_DOUBLE_EQ(starts[3][1], 10.0);
}

} // namespace
} // namespace orvo
