#include "recording/PrivacyManager.h"

#include <optional>

#include <gtest/gtest.h>

#include "fakes/FakeDisplays.h"
#include "platform/Platform.h"
#include "support/TestFiles.h"

namespace orvo {
namespace {

class PrivacyManagerTest : public testing::Test {
protected:
    void SetUp() override {
        auto fake = std::make_unique<FakeDisplays>();
        displays = fake.get();
        Platform::shared().install<Displays>(std::move(fake));
    }
    void TearDown() override { Platform::shared().clear(); }

    FakeDisplays* displays = nullptr;
};

TEST_F(PrivacyManagerTest, ScreenCaptureNeedsOnlyAReachableDisplay) {
    auto& privacy = PrivacyManager::shared();
    // An untitled dock or desktop widget must not refuse the recording.
    displays->setWindows(
        std::vector<OnScreenWindow>{{1, QString("Terminal")}, {2, std::nullopt}, {3, "Mail"}});
    EXPECT_TRUE(privacy.checkScreenCapture());
    displays->setWindows(std::vector<OnScreenWindow>{});
    EXPECT_TRUE(privacy.checkScreenCapture());
    displays->setWindows(std::nullopt);
    EXPECT_FALSE(privacy.checkScreenCapture());
    Platform::shared().clear();
    EXPECT_FALSE(privacy.checkScreenCapture());
}

TEST_F(PrivacyManagerTest, ScreenCaptureRequestGrabsOneListedWindow) {
    auto& privacy = PrivacyManager::shared();
    displays->setWindows(std::vector<OnScreenWindow>{});
    privacy.requestScreenCapture();
    EXPECT_TRUE(displays->captured().empty());

    displays->setWindows(std::vector<OnScreenWindow>{{7, std::nullopt}, {9, QString("Notes")}});
    privacy.requestScreenCapture();
    ASSERT_EQ(displays->captured().size(), 1u);
    EXPECT_TRUE(displays->captured()[0] == 7 || displays->captured()[0] == 9);
}

TEST(PrivacyManager, RecognizerStatusesAnswerAndLogTheUndecidedAndRefused) {
    for (int status : {0, 1, 2}) {
        std::optional<bool> answer;
        const QString console = test::capturedConsole([&] {
            PrivacyManager::completeRecognizerRequest(status, [&](bool ok) { answer = ok; });
        });
        EXPECT_EQ(answer, false);
        EXPECT_TRUE(console.contains(" Event: info Value: Request recognizer authorization " +
                                     QString::number(status)))
            << console.toStdString();
    }
    for (int status : {3, 4, -1}) {
        std::optional<bool> answer;
        const QString console = test::capturedConsole([&] {
            PrivacyManager::completeRecognizerRequest(status, [&](bool ok) { answer = ok; });
        });
        EXPECT_EQ(answer, status == 3);
        EXPECT_FALSE(console.contains("Request recognizer authorization"));
    }
}

} // namespace
} // namespace orvo
