#include "platform/linux/capture/BoundedWorker.h"

#include <chrono>
#include <future>
#include <latch>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

namespace orvo {
namespace {

constexpr std::int64_t capacity = 20;

// A worker of one channel whose work holds on to its first block until released, and notes
// the first sample of each block it is given and how it was closed.
struct HeldWorker {
    explicit HeldWorker(BoundedWorker::WhenFull whenFull)
        : worker(
              1, capacity, std::move(whenFull),
              [this](const float* samples, std::int64_t) -> std::optional<QString> {
                  {
                      std::lock_guard lock(mutex);
                      worked.push_back(samples[0]);
                      if (worked.size() > 1) {
                          return std::nullopt;
                      }
                  }
                  inHand.count_down();
                  released.wait();
                  return std::nullopt;
              },
              [this](bool failed) -> std::optional<QString> {
                  closedFailed = failed;
                  return QStringLiteral("closing");
              }) {}
    // A failed expectation must not leave the worker held for ever.
    ~HeldWorker() { release(); }

    void release() {
        std::call_once(releasing, [this] { released.count_down(); });
    }

    std::optional<QString> push(float mark, std::int64_t frames) {
        const std::vector<float> block(std::size_t(frames), mark);
        return worker.push(block.data(), frames);
    }

    std::mutex mutex;
    std::vector<float> worked; // under mutex
    std::latch inHand{1};
    std::latch released{1};
    std::once_flag releasing;
    std::optional<bool> closedFailed; // the worker's thread until finished
    BoundedWorker worker;             // last: its thread uses the rest
};

TEST(BoundedWorkerTest, GivingUpDropsWhatWaitsAndNeverHoldsUpTheProducer) {
    HeldWorker held(BoundedWorker::WhenFull::giveUp(QStringLiteral("behind")));
    ASSERT_FALSE(held.push(1, 10));
    held.inHand.wait();
    // The block in hand is not behind: this much waits and still fits.
    ASSERT_FALSE(held.push(2, capacity));
    EXPECT_EQ(held.push(3, 1), QStringLiteral("behind"));
    EXPECT_EQ(held.push(4, 1), QStringLiteral("behind"));
    held.release();
    // Closing fails too, but the work already ended on the first error.
    EXPECT_EQ(held.worker.finish(), QStringLiteral("behind"));
    EXPECT_EQ(held.worked, std::vector<float>{1});
    EXPECT_EQ(held.closedFailed, true);
}

TEST(BoundedWorkerTest, WaitingHoldsTheProducerUntilTheBlockInHandIsDone) {
    HeldWorker held(BoundedWorker::WhenFull::wait());
    ASSERT_FALSE(held.push(1, 10));
    held.inHand.wait();
    ASSERT_FALSE(held.push(2, 10));
    // The block in hand counts: the queue is full.
    auto third = std::async(std::launch::async, [&] { return held.push(3, 1); });
    EXPECT_EQ(third.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    held.release();
    EXPECT_FALSE(third.get());
    EXPECT_EQ(held.worker.finish(), QStringLiteral("closing"));
    EXPECT_EQ(held.worked, (std::vector<float>{1, 2, 3}));
    EXPECT_EQ(held.closedFailed, false);
}

} // namespace
} // namespace orvo
