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
    // 3 is the only grant; 0 to 2 are undecided or refused and logged.
    for (int status : {0, 1, 2, 3, 4, -1}) {
        std::optional<bool> answer;
        const QString console = test::capturedConsole([&] {
            PrivacyManager::completeRecognizerRequest(status, [&](bool ok) { answer = ok; });
        });
        EXPECT_EQ(answer, status == 3) << status;
        EXPECT_EQ(console.contains(" Event: info Value: Request recognizer authorization " +
                                   QString::number(status)),
                  status >= 0 && status <= 2)
            << console.toStdString();
    }
}

} // namespace
} // namespace orvo
