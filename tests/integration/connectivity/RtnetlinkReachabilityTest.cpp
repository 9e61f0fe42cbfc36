// The kernel's own routing, in a network namespace private to this test: links, addresses
// and routes change there without touching the machine's network.
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <gtest/gtest.h>

#include "connectivity/ConnectionManager.h"
#include "platform/Platform.h"
#include "platform/linux/network/LinuxNetworkReachability.h"

namespace orvo {
namespace {

using Connection = Reachability::Connection;

// Bounds of the waits, not measurements: bench_connectivity measures how soon a change comes.
constexpr int changeDeadlineMs = 2000;
// How long the test listens for a notification that must not come.
constexpr int quietMs = 100;
const QString link = QStringLiteral("orvo0");

bool ip(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("ip"), arguments);
    return process.waitForFinished() && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// A link that carries packets nowhere: a dummy where the kernel has the driver, else one
// end of a virtual Ethernet pair.
bool addLink() {
    return ip({"link", "add", link, "type", "dummy"}) ||
           ip({"link", "add", link, "type", "veth", "peer", "name", link + "p"});
}

class RtnetlinkReachabilityTest : public testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "a private network namespace needs root";
        }
        machineNamespace_ = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        ASSERT_GE(machineNamespace_, 0);
        // This thread, and the watcher and ip processes it starts, see the private one.
        ASSERT_EQ(::unshare(CLONE_NEWNET), 0) << std::strerror(errno);
        Platform::shared().install<NetworkReachability>(
            std::make_unique<LinuxNetworkReachability>());
        observation_ = NotificationCenter::shared().addObserver(
            ConnectionManager::notificationConnectionStatus, nullptr, [this](const auto& note) {
                seen_.push_back(ConnectionManager::connectionOf(note).value_or(Connection::none));
            });
    }
    void TearDown() override {
        manager_.reset();
        observation_.reset();
        Platform::shared().clear();
        if (machineNamespace_ >= 0) {
            EXPECT_EQ(::setns(machineNamespace_, CLONE_NEWNET), 0);
            ::close(machineNamespace_);
        }
    }

    // The next connection told on the main thread, if it comes before the deadline.
    std::optional<Connection> next(int deadlineMs) {
        const std::size_t before = seen_.size();
        for (QDeadlineTimer deadline(deadlineMs); seen_.size() == before;) {
            if (deadline.hasExpired()) {
                return std::nullopt;
            }
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents,
                                            int(deadline.remainingTime()));
        }
        return seen_[before];
    }

    std::optional<ConnectionManager> manager_;
    std::vector<Connection> seen_;

private:
    int machineNamespace_ = -1;
    NotificationCenter::Observation observation_;
};

TEST_F(RtnetlinkReachabilityTest, ADefaultRouteOverAnUpLinkIsWifiAndItsRemovalUnavailable) {
    manager_.emplace();
    manager_->observeReachability();
    ASSERT_NE(manager_->reachability(), nullptr);
    EXPECT_EQ(next(changeDeadlineMs), Connection::unavailable);
    EXPECT_EQ(manager_->reachability()->description(), "-- -------");

    // A link and an address without a route: still no way out.
    ASSERT_TRUE(addLink());
    ASSERT_TRUE(ip({"address", "add", "192.0.2.10/24", "dev", link}));
    ASSERT_TRUE(ip({"link", "set", link, "up"}));
    EXPECT_EQ(next(quietMs), std::nullopt);

    ASSERT_TRUE(ip({"route", "add", "default", "dev", link}));
    EXPECT_EQ(next(changeDeadlineMs), Connection::wifi);
    // No gateway: the route's link scope makes it direct.
    EXPECT_EQ(manager_->reachability()->description(), "-R ------d");

    ASSERT_TRUE(ip({"route", "del", "default"}));
    EXPECT_EQ(next(changeDeadlineMs), Connection::unavailable);

    // Through a gateway over a link that goes down.
    ASSERT_TRUE(ip({"route", "add", "default", "via", "192.0.2.1", "dev", link}));
    EXPECT_EQ(next(changeDeadlineMs), Connection::wifi);
    EXPECT_EQ(manager_->reachability()->description(), "-R -------");
    ASSERT_TRUE(ip({"link", "set", link, "down"}));
    EXPECT_EQ(next(changeDeadlineMs), Connection::unavailable);
}

} // namespace
} // namespace orvo
