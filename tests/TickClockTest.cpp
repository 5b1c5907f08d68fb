#include <gtest/gtest.h>

#include <atomic>

#include "support/TickClock.h"

namespace {
std::atomic<uint32_t> g_now{0};
uint32_t fakeTicks() {
    return g_now.load();
}
}  // namespace

// A deadline made at `made` for `ms`, read at `now`: a plain unsigned comparison would end
// at once before the wrap and wait for days after it.
TEST(Deadline, ReachedPassedAndTheWaitLeftAroundTheDueTickAndTheWrap) {
    // Made at, for ms, read at; reached, passed, ms left.
    const std::tuple<uint32_t, uint32_t, uint32_t, bool, bool, uint32_t> kCases[] = {
        {1000, 50, 1049, false, false, 2},
        {1000, 50, 1050, true, false, 1},
        {1000, 50, 1051, true, true, 0},
        {0xFFFFFFF0u, 0x20, 0xFFFFFFF0u, false, false, 0x21},
        {0xFFFFFFF0u, 0x20, 0x05, false, false, 12},
        {0xFFFFFFF0u, 0x20, 0x11, true, true, 0},
        {5, Deadline::kNever, 0x7FFFFFFF, false, false, Deadline::kNever},
    };
    setTickSource(&fakeTicks);
    for (const auto& [made, ms, now, reached, passed, left] : kCases) {
        g_now = made;
        const Deadline d(ms);
        g_now = now;
        EXPECT_EQ(std::make_tuple(d.reached(), d.passed(), d.msUntilPassed()),
                  std::make_tuple(reached, passed, left))
            << made << " + " << ms << " at " << now;
    }
    setTickSource(nullptr);
}
