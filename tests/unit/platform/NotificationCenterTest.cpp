#include "platform/NotificationCenter.h"

#include <optional>
#include <thread>

#include <gtest/gtest.h>

namespace orvo {
namespace {

TEST(NotificationCenter, DeliversByNameAndObjectUntilTheObservationEnds) {
    NotificationCenter center;
    int sender = 0;
    int other = 0;
    QStringList seen;
    auto any = center.addObserver("reachabilityChanged", nullptr, [&](const auto& n) {
        seen << "any:" + n.userInfo["v"].toString();
    });
    auto mine = center.addObserver("reachabilityChanged", &sender, [&](const auto& n) {
        seen << "mine:" + n.userInfo["v"].toString();
    });

    center.post("reachabilityChanged", &sender, {{"v", "1"}});
    center.post("reachabilityChanged", &other, {{"v", "2"}});
    center.post("somethingElse", &sender, {{"v", "3"}});
    mine.reset();
    center.post("reachabilityChanged", &sender, {{"v", "4"}});

    EXPECT_EQ(seen, (QStringList{"any:1", "mine:1", "any:2", "any:4"}));

    // A moved observation stays alive.
    int calls = 0;
    NotificationCenter::Observation kept;
    {
        auto observation = center.addObserver("n", nullptr, [&](const auto&) { ++calls; });
        kept = std::move(observation);
    }
    center.post("n");
    kept = NotificationCenter::Observation();
    center.post("n");
    EXPECT_EQ(calls, 1);
}

TEST(NotificationCenter, DeliversOnThePostersThreadAndSurvivesRemovalInsideAHandler) {
    NotificationCenter center;
    std::optional<std::thread::id> deliveredOn;
    std::optional<NotificationCenter::Observation> once;
    int calls = 0;
    once = center.addObserver("n", nullptr, [&](const auto&) {
        deliveredOn = std::this_thread::get_id();
        ++calls;
        once.reset(); // ends the observation from inside its own handler
    });

    std::thread poster([&] { center.post("n"); });
    const auto posterId = poster.get_id();
    poster.join();
    center.post("n");

    EXPECT_EQ(deliveredOn, posterId);
    EXPECT_EQ(calls, 1);
}

} // namespace
} // namespace orvo
