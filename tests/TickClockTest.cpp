#include <gtest/gtest.h>

#include <atomic>

#include "support/TickClock.h"

namespace {
std::atomic<uint32_t> g_now{0};
uint32_t fakeTicks() {
    return g_now.load();
}

struct FakeClock {
    FakeClock() { setTickSource(&fakeTicks); }
    ~FakeClock() { setTickSource(nullptr); }
};
}  // namespace

TEST(Deadline, ReachedAndPassedAroundTheDueTick) {
    FakeClock clock;
    g_now = 1000;
    const Deadline d(50);
    g_now = 1049;
    EXPECT_FALSE(d.reached());
    EXPECT_EQ(d.msUntilPassed(), 2u);
    g_now = 1050;
    EXPECT_TRUE(d.reached());
    EXPECT_FALSE(d.passed());
    EXPECT_EQ(d.msUntilPassed(), 1u);
    g_now = 1051;
    EXPECT_TRUE(d.passed());
    EXPECT_EQ(d.msUntilPassed(), 0u);
}

TEST(Deadline, StaysRightWhenTheCounterWraps) {
    FakeClock clock;
    g_now = 0xFFFFFFF0u;
    const Deadline d(0x20);  // due at 0x10, after the wrap
    EXPECT_FALSE(d.reached()) << "a plain unsigned comparison would time out at once";
    g_now = 0x05;
    EXPECT_FALSE(d.reached());
    EXPECT_EQ(d.msUntilPassed(), 12u);
    g_now = 0x11;
    EXPECT_TRUE(d.passed()) << "a plain unsigned comparison would wait for days here";
}

TEST(Deadline, NeverFallsDue) {
    FakeClock clock;
    g_now = 5;
    const Deadline d(Deadline::kNever);
    g_now = 0x7FFFFFFF;
    EXPECT_FALSE(d.reached());
    EXPECT_EQ(d.msUntilPassed(), Deadline::kNever);
}
