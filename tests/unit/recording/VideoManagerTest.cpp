#include "recording/VideoManager.h"

#include <gtest/gtest.h>

#include "fakes/FakeDisplays.h"
#include "platform/Platform.h"

namespace orvo {
namespace {

TEST(VideoManager, NamesAndIdentifiersComeFromTheSameScreens) {
    auto fake = std::make_unique<FakeDisplays>();
    // The middle screen reports no product name: it drops out of both lists together, so
    // entry 1 is still the screen called "DELL U2415".
    fake->setScreens({{101, QRect(0, 0, 1920, 1080), QString("DELL U2415")},
                      {202, QRect(1920, 0, 1280, 1024), std::nullopt},
                      {303, QRect(3200, 0, 1920, 1080), QString("DELL U2415")}});
    Platform::shared().install<Displays>(std::move(fake));

    EXPECT_EQ(VideoManager::screenNameDevices(), (QStringList{"DELL U2415", "DELL U2415"}));
    EXPECT_EQ(VideoManager::screenDeviceID(0), DisplayID(101));
    EXPECT_EQ(VideoManager::screenDeviceID(1), DisplayID(303));
    EXPECT_EQ(VideoManager::screenDeviceID(2), std::nullopt);
    EXPECT_EQ(VideoManager::screenDeviceID(-1), std::nullopt);
    Platform::shared().clear();
}

} // namespace
} // namespace orvo
