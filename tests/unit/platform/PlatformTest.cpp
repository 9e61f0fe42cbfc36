#include "platform/Platform.h"

#include <gtest/gtest.h>

#include "fakes/FakeFileAttributes.h"
#include "platform/MainThread.h"

#include <QCoreApplication>
#include <thread>

namespace orvo {
namespace {

TEST(Platform, HoldsOneBackendPerPort) {
    Platform platform;
    EXPECT_EQ(platform.find<FileAttributes>(), nullptr);

    auto first = std::make_unique<FakeFileAttributes>();
    first->setCreationDate("/a", QDateTime::fromSecsSinceEpoch(1));
    platform.install<FileAttributes>(std::move(first));
    EXPECT_EQ(platform.get<FileAttributes>().creationDate("/a"), QDateTime::fromSecsSinceEpoch(1));

    platform.install<FileAttributes>(std::make_unique<FakeFileAttributes>());
    EXPECT_EQ(platform.get<FileAttributes>().creationDate("/a"), std::nullopt);

    platform.clear();
    EXPECT_EQ(platform.find<FileAttributes>(), nullptr);
}

TEST(Platform, DispatchToMainRunsOnTheMainThreadLater) {
    bool ranOnMain = false;
    std::thread worker([&] {
        EXPECT_FALSE(isMainThread());
        EXPECT_TRUE(dispatchToMain([&] {
            ranOnMain = isMainThread();
            QCoreApplication::quit();
        }));
    });
    worker.join();
    EXPECT_FALSE(ranOnMain);
    QCoreApplication::exec();
    EXPECT_TRUE(ranOnMain);
}

} // namespace
} // namespace orvo
