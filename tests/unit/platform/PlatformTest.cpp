#include "platform/Platform.h"

#include <gtest/gtest.h>

#include "platform/MainThread.h"

#include <QCoreApplication>
#include <thread>

namespace orvo {
namespace {

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
