#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "support/Thread.h"
#include "tests/TestHelpers.h"

namespace {
// Waits for messages once and records what it handled, the wait's result and its length.
// The test reads `handled` only once the thread has ended.
class Waiter : public Thread {
  public:
    explicit Waiter(uint32_t waitMs) : waitMs_(waitMs) {}
    void run() override {
        const auto start = std::chrono::steady_clock::now();
        ready = true;
        result = waitMessage(waitMs_);
        elapsedMs = msSince(start);
        self = Thread::current();
    }
    void onMessage(uint32_t message) override { handled.push_back(message); }
    const uint32_t waitMs_;
    std::atomic<bool> ready{false};
    std::atomic<uint32_t> result{0xFFFF};
    std::atomic<long> elapsedMs{0};
    std::atomic<Thread*> self{nullptr};
    std::vector<uint32_t> handled;
};
}  // namespace

TEST(Thread, MessagesAreHandledInOrderAndZeroDoesNotEndTheWait) {
    Waiter w(10000);
    w.start(false, Thread::kInfinite);
    while (!w.ready) {
        std::this_thread::yield();
    }
    EXPECT_TRUE(w.post(0));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // handled on its own
    EXPECT_TRUE(w.post(7));
    w.stop(true, 10000);
    EXPECT_EQ(std::make_tuple(w.result.load(), w.self.load()),
              std::make_tuple(7u, static_cast<Thread*>(&w)));
    EXPECT_EQ(w.handled, (std::vector<uint32_t>{0, 7}));
    char refused[64];
    std::snprintf(refused, sizeof refused, "Thread with handle 0x%x is not running",
                  static_cast<unsigned>(w.handle()));
    EXPECT_EQ(messageOf([&] { w.post(7); }), refused);
    EXPECT_EQ(messageOf([&] { w.postTo(0, 1); }), "can't get status of thread");
    w.stop(true, 1000);  // waiting on an ended thread touches nothing
}

TEST(Thread, SilenceEndsTheWaitWithZeroAndStartCanWaitForTheEnd) {
    Waiter silent(100);
    EXPECT_EQ(silent.start(true, 20), Thread::kWaitTimedOut) << "the thread was still waiting";
    silent.stop(true, Thread::kInfinite);
    EXPECT_EQ(silent.result, 0u);
    EXPECT_GE(silent.elapsedMs, 95);
    Waiter quick(1);
    EXPECT_EQ(quick.start(true, 5000), Thread::kWaitEnded);
}
