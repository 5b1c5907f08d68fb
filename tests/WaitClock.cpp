#include "tests/WaitClock.h"

#include <algorithm>

#include "sim/VirtualInstrument.h"
#include "support/TickClock.h"

namespace {
std::atomic<WaitClock*> g_active{nullptr};

constexpr int64_t kFast = 10;
constexpr int64_t kLongestFastStepUs = 20000;
}  // namespace

WaitClock::WaitClock() : last_(std::chrono::steady_clock::now()) {
    g_active.store(this);
    setTickSource(&WaitClock::ticks);
}

WaitClock::~WaitClock() {
    setTickSource(nullptr);
    g_active.store(nullptr);
}

uint32_t WaitClock::ticks() {
    return g_active.load()->advance();
}

bool WaitClock::hostOnlyWaits() const {
    const VirtualInstrument* sim = sim_.load();
    // A frame still on its way means an answer may be due: real speed. The count is read
    // first: the instrument clears its flag before it counts a new request.
    return sim != nullptr && sent_.load() == sim->requestCount() && sim->hostOnlyWaits();
}

uint32_t WaitClock::advance() {
    const bool fast = hostOnlyWaits();
    std::lock_guard<std::mutex> lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    const int64_t step = std::chrono::duration_cast<std::chrono::microseconds>(now - last_).count();
    last_ = now;
    if (fast) {
        const int64_t quick = std::min(step, kLongestFastStepUs);
        micros_ += static_cast<uint64_t>(quick * kFast + (step - quick));
    } else {
        micros_ += static_cast<uint64_t>(step);
    }
    return static_cast<uint32_t>(micros_ / 1000);
}
