#include "connectivity/Reachability.h"

#include <memory>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QDateTime>
#include <gtest/gtest.h>

#include "connectivity/ConnectionManager.h"
#include "connectivity/ReachabilityError.h"
#include "fakes/FakeNetworkReachability.h"
#include "platform/Platform.h"
#include "shell/API.h"
#include "shell/CopyFiles.h"
#include "shell/Logging.h"
#include "support/TestFiles.h"

namespace orvo {
namespace {

using Connection = Reachability::Connection;
using F = ReachabilityFlags;

ReachabilityFlags flags(std::uint32_t bits) {
    return ReachabilityFlags{bits};
}

// A monitor on the fake network; it tells its changes at once (no queue) unless asked.
class ReachabilityTest : public testing::Test {
protected:
    void SetUp() override {
        auto port = std::make_unique<FakeNetworkReachability>();
        network = port.get();
        Platform::shared().install<NetworkReachability>(std::move(port));
    }
    void TearDown() override { Platform::shared().clear(); }

    // Counts the monitor's notifications and which listener ran.
    struct Counts {
        int notifications = 0;
        int reachable = 0;
        int unreachable = 0;
    };
    NotificationCenter::Observation count(Reachability& monitor, Counts& counts) {
        monitor.whenReachable = [&counts](Reachability&) { ++counts.reachable; };
        monitor.whenUnreachable = [&counts](Reachability&) { ++counts.unreachable; };
        monitor.notificationCenter = &center;
        return center.addObserver(Reachability::reachabilityChanged, &monitor,
                                  [&counts](const auto&) { ++counts.notifications; });
    }

    NotificationCenter center;
    FakeNetworkReachability* network = nullptr;
};

TEST_F(ReachabilityTest, ConnectionKindFollowsTheFlagRulesAndTheCellularSwitch) {
    EXPECT_EQ(connectionOf(flags(F::reachable)), Connection::wifi);
    EXPECT_EQ(connectionOf(flags(F::reachable | F::isDirect | F::isLocalAddress)),
              Connection::wifi);
    EXPECT_EQ(connectionOf(flags(F::reachable | F::connectionRequired)), Connection::unavailable);
    EXPECT_EQ(connectionOf(flags(F::reachable | F::connectionRequired | F::connectionOnDemand)),
              Connection::wifi);
    EXPECT_EQ(connectionOf(flags(F::reachable | F::connectionRequired | F::connectionOnTraffic)),
              Connection::wifi);
    EXPECT_EQ(connectionOf(flags(F::reachable | F::connectionRequired | F::connectionOnDemand |
                                 F::interventionRequired)),
              Connection::unavailable);
    EXPECT_EQ(connectionOf(flags(F::reachable | F::isWWAN)), Connection::cellular);
    // Without reachable nothing else counts.
    for (const std::uint32_t others :
         {0U, F::isWWAN, F::connectionOnDemand | F::connectionOnTraffic, F::isDirect,
          F::transientConnection | F::isLocalAddress}) {
        EXPECT_EQ(connectionOf(flags(others)), Connection::unavailable) << others;
    }
    // The monitor honours the cellular switch.
    Reachability monitor(std::nullopt);
    network->state->flags = flags(F::reachable | F::isWWAN);
    EXPECT_EQ(monitor.connection(), Connection::cellular);
    monitor.allowsCellularConnection = false;
    EXPECT_EQ(monitor.connection(), Connection::unavailable);
}

TEST_F(ReachabilityTest, OnlyRealChangesAreTold) {
    Reachability monitor(std::nullopt);
    Counts counts;
    const auto observation = count(monitor, counts);
    network->state->flags = flags(F::reachable);
    monitor.startNotifier();
    // The first reading is a change: observers learn the state they start in.
    EXPECT_EQ(counts.notifications, 1);
    EXPECT_EQ(counts.reachable, 1);

    network->deliver(flags(F::reachable));
    EXPECT_EQ(counts.notifications, 1);
    network->deliver(flags(0));
    network->deliver(flags(0));
    EXPECT_EQ(counts.notifications, 2);
    EXPECT_EQ(counts.unreachable, 1);
    // A change of flags that keeps the kind is still a change.
    network->deliver(flags(F::reachable | F::isDirect));
    network->deliver(flags(F::reachable));
    EXPECT_EQ(counts.notifications, 4);
    EXPECT_EQ(counts.reachable, 3);
}

TEST_F(ReachabilityTest, StartingTwiceInstallsOnceAndStoppingRemovesTheCallback) {
    auto monitor = std::make_unique<Reachability>(std::nullopt);
    monitor->startNotifier();
    monitor->startNotifier();
    EXPECT_EQ(network->state->callbacksInstalled, 1);
    EXPECT_TRUE(monitor->notifierRunning());
    EXPECT_TRUE(network->state->watching);

    monitor->stopNotifier();
    EXPECT_FALSE(monitor->notifierRunning());
    EXPECT_FALSE(network->state->callback);
    monitor->startNotifier();
    EXPECT_EQ(network->state->callbacksInstalled, 2);
    monitor.reset();
    EXPECT_FALSE(network->state->callback);
    EXPECT_FALSE(network->state->watching);
}

TEST_F(ReachabilityTest, FailuresCarryTheirKindAndCode) {
    const auto failure = [](auto&& start) -> std::optional<ReachabilityError> {
        try {
            start();
        } catch (const ReachabilityError& error) {
            return error;
        }
        return std::nullopt;
    };
    network->state->error = 97;
    network->state->refuseCallback = true;
    Reachability monitor(std::nullopt);
    auto error = failure([&] { monitor.startNotifier(); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), ReachabilityError::Kind::unableToSetCallback);
    EXPECT_EQ(error->code(), 97);

    network->state->refuseCallback = false;
    network->state->refuseWatching = true;
    error = failure([&] { monitor.startNotifier(); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), ReachabilityError::Kind::unableToSetDispatchQueue);
    EXPECT_FALSE(network->state->callback);

    network->state->refuseWatching = false;
    network->state->flags.reset();
    error = failure([&] { monitor.startNotifier(); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), ReachabilityError::Kind::unableToGetFlags);
    EXPECT_FALSE(monitor.notifierRunning());
    EXPECT_EQ(monitor.connection(), Connection::unavailable);

    network->refuseTargets = true;
    error = failure([] { Reachability byName(QStringLiteral("example.org"), std::nullopt); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), ReachabilityError::Kind::failedToCreateWithHostname);
    EXPECT_EQ(error->payload(), "example.org");
}

TEST_F(ReachabilityTest, ChangesFromTheNetworkThreadAreToldOnTheMainThread) {
    Reachability monitor;
    Counts counts;
    const auto observation = count(monitor, counts);
    monitor.startNotifier();
    std::thread([this] { network->deliver(flags(F::reachable)); }).join();
    EXPECT_EQ(counts.notifications, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(counts.notifications, 2);
    // Each step reads the connection when it runs: by then the network is back.
    EXPECT_EQ(counts.reachable, 2);
}

// Its reposts of each change are checked end to end by the start-up test.
TEST_F(ReachabilityTest, ManagerLogsWhyItCannotWatchAndTellsNothing) {
    int told = 0;
    const auto observation = NotificationCenter::shared().addObserver(
        ConnectionManager::notificationConnectionStatus, nullptr, [&told](const auto&) { ++told; });
    test::removeStorageTree();
    CopyFiles::checkFilesAndCopy();
    network->state->refuseWatching = true;
    network->state->error = 1;
    ConnectionManager failing;
    failing.observeReachability();
    QCoreApplication::processEvents();
    const QStringList lines =
        test::readLines(Logging::dayFilePath(QDateTime::currentDateTimeUtc()));
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.last().contains(
        "Error occured while starting reachability notifications : unableToSetDispatchQueue"))
        << lines.last().toStdString();
    EXPECT_EQ(told, 0);
}

} // namespace
} // namespace orvo
