#include "recording/ApplicationsManager.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

#include "fakes/FakeWorkspace.h"
#include "platform/Platform.h"
#include "shell/API.h"
#include "shell/Formatting.h"
#include "support/TestFiles.h"

namespace orvo {
namespace {

RunningApplication named(const QString& name) {
    return {std::nullopt, name, std::nullopt};
}

// Stands for an encoded icon: the manager stores what it gets without reading it.
QByteArray png(const char* tag) {
    return QByteArray("\x89PNG\r\n\x1a\n") + tag;
}

QString cachedIcon(const QString& bundleName) {
    return API::iconAppsPath() + "/" + MD5(bundleName) + ".png";
}

class ApplicationsManagerTest : public testing::Test {
protected:
    void SetUp() override {
        test::removeStorageTree();
        ASSERT_TRUE(QDir().mkpath(API::iconAppsPath()));
        setLastActiveIM(std::nullopt);
        auto fake = std::make_unique<FakeWorkspace>();
        workspace = fake.get();
        Platform::shared().install<Workspace>(std::move(fake));
    }
    void TearDown() override {
        Platform::shared().clear();
        setLastActiveIM(std::nullopt);
    }

    FakeWorkspace* workspace = nullptr;
};

TEST_F(ApplicationsManagerTest, FollowsOnlyExactMessengerNamesAndKeepsTheLastOne) {
    ApplicationsManager manager;
    // A notification without a running application changes nothing.
    workspace->post({});
    workspace->post({{Workspace::applicationKey, QString("Telegram")}});
    EXPECT_EQ(lastActiveIM(), std::nullopt);

    workspace->activate(named("Skype"));
    EXPECT_EQ(lastActiveIM(), "Skype.app");

    // Not messengers, or not exactly a messenger's name: the value stays.
    for (const char* other :
         {"Finder", "telegram", "Telegram ", " Telegram", "Nachrichten", "zoom", "Skype.app"}) {
        workspace->activate(named(QString(other)));
        EXPECT_EQ(lastActiveIM(), "Skype.app") << other;
    }
    workspace->activate(RunningApplication{}); // no name at all: ".app"
    EXPECT_EQ(lastActiveIM(), "Skype.app");

    workspace->activate(named("zoom.us"));
    EXPECT_EQ(lastActiveIM(), "zoom.us.app");
    workspace->activate(named("Mail.Ru Agent"));
    EXPECT_EQ(lastActiveIM(), "Mail.Ru Agent.app");
}

TEST_F(ApplicationsManagerTest, CachesMessengerIconsOnceUnderTheirMD5) {
    workspace->setFolder("/apps", std::vector<ApplicationItem>{
                                      {"/apps/telegram.desktop", QString("Telegram.app")},
                                      {"/apps/notes.desktop", QString("Notes.app")},
                                      {"/apps/broken.desktop", std::nullopt},
                                      {"/apps/skype.desktop", QString("skype.app")},
                                  });
    workspace->setFolder("/unreadable", std::nullopt);
    workspace->setFolder("/more", std::vector<ApplicationItem>{
                                      {"/more/zoom.desktop", QString("zoom.us.app")},
                                      {"/more/viber.desktop", QString("Viber.app")},
                                  });
    workspace->setIcon("/apps/telegram.desktop", png("telegram"));
    workspace->setIcon("/apps/notes.desktop", png("other"));
    workspace->setIcon("/apps/skype.desktop", png("other"));
    workspace->setIcon("/more/zoom.desktop", png("zoom"));
    // Viber has no icon: nothing is written for it.

    ApplicationsManager first;
    QStringList expected{QFileInfo(cachedIcon("Telegram.app")).fileName(),
                         QFileInfo(cachedIcon("zoom.us.app")).fileName()};
    expected.sort();
    EXPECT_EQ(QDir(API::iconAppsPath()).entryList(QDir::Files, QDir::Name), expected);
    EXPECT_EQ(test::readFile(cachedIcon("Telegram.app")), png("telegram"));
    EXPECT_EQ(test::readFile(cachedIcon("zoom.us.app")), png("zoom"));

    // A second pass writes nothing, even when the icons have changed since.
    workspace->setIcon("/apps/telegram.desktop", png("telegram, later"));
    const int requests = workspace->iconRequests();
    ApplicationsManager second;
    EXPECT_EQ(test::readFile(cachedIcon("Telegram.app")), png("telegram"));
    EXPECT_EQ(workspace->iconRequests(), requests + 1); // Viber, still without one
    EXPECT_EQ(QDir(API::iconAppsPath()).entryList(QDir::Files, QDir::Name), expected);
}

TEST_F(ApplicationsManagerTest, DoesNothingWithoutAWorkspace) {
    Platform::shared().clear();
    ApplicationsManager manager;
    EXPECT_EQ(lastActiveIM(), std::nullopt);
    EXPECT_TRUE(QDir(API::iconAppsPath()).entryList(QDir::Files).isEmpty());
}

} // namespace
} // namespace orvo
