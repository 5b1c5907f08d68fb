#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/Exception.h"
#include "support/Thread.h"
#include "tests/TestHelpers.h"

namespace {
using Clock = std::chrono::steady_clock;

class ReturnsAtOnce : public Thread {
  public:
    void run() override { ran = true; }
    std::atomic<bool> ran{false};
};

// Waits for messages and records what it handled.
class Waiter : public Thread {
  public:
    void run() override {
        ready = true;
        result = waitMessage(waitMs);
        elapsedMs = static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count());
        self = Thread::current();
    }
    void onMessage(uint32_t message) override {
        std::lock_guard<std::mutex> lock(mutex);
        handled.push_back(message);
    }
    uint32_t waitMs = 100;
    std::atomic<bool> ready{false};
    std::atomic<uint32_t> result{0xFFFF};
    std::atomic<long> elapsedMs{0};
    std::atomic<Thread*> self{nullptr};
    Clock::time_point started = Clock::now();
    std::mutex mutex;
    std::vector<uint32_t> handled;
};

}  // namespace

TEST(Thread, BodyThatReturnsAtOnceEndsAndRefusesMessages) {
    ReturnsAtOnce t;
    EXPECT_EQ(t.start(true, 5000), Thread::kWaitEnded);
    EXPECT_TRUE(t.ran);
    const std::string refused = messageOf([&] { t.post(7); });
    char expected[64];
    std::snprintf(expected, sizeof expected, "Thread with handle 0x%x is not running",
                  static_cast<unsigned>(t.handle()));
    EXPECT_EQ(refused, expected);
    EXPECT_EQ(messageOf([&] { t.postTo(0, 1); }), "can't get status of thread");
    t.stop(true, 1000);  // waiting on an ended thread touches nothing
    t.stop(false, 0);
}

TEST(Thread, MessagesAreHandledInOrderZeroDoesNotEndTheWaitAndSilenceEndsItWithZero) {
    Waiter silent;
    EXPECT_EQ(silent.start(true, 50), Thread::kWaitTimedOut) << "the thread was still waiting";
    silent.stop(true, Thread::kInfinite);
    EXPECT_EQ(silent.result, 0u);
    EXPECT_GE(silent.elapsedMs, 95);
    EXPECT_EQ(silent.self, &silent) << "the thread-local slot holds the running object";

    Waiter w;
    w.waitMs = 10000;
    w.start(false, Thread::kInfinite);
    while (!w.ready) {
        std::this_thread::yield();
    }
    EXPECT_TRUE(w.post(0));
    EXPECT_TRUE(w.post(7));
    w.stop(true, 10000);
    EXPECT_EQ(w.result, 7u);
    EXPECT_EQ(w.handled, (std::vector<uint32_t>{0, 7}));
}
