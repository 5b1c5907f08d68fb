#include "support/TickClock.h"

#include <atomic>
#include <chrono>

namespace {
std::atomic<TickSource> g_source{nullptr};

uint32_t systemTicks() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}
}  // namespace

uint32_t tickCount() {
    const TickSource source = g_source.load(std::memory_order_acquire);
    return source ? source() : systemTicks();
}

void setTickSource(TickSource source) {
    g_source.store(source, std::memory_order_release);
}

Deadline::Deadline(uint32_t ms) : due_(tickCount() + ms), never_(ms == kNever) {}

uint32_t Deadline::msUntilPassed() const {
    if (never_) {
        return kNever;
    }
    const int32_t since = sinceDue();
    // The counter only steps in whole milliseconds: one more than the distance to the due
    // tick is the first moment at which it stands past it.
    return since > 0 ? 0u : static_cast<uint32_t>(1 - since);
}
