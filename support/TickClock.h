#pragma once
// The system's millisecond tick counter and the one deadline helper every wait uses.
//
// The counter is unsigned 32 bits and wraps after about 49.7 days. Deadlines MUST be
// compared by signed difference so that a wait across the wrap neither ends at once nor
// lasts for days; Deadline does that and no caller does its own time arithmetic.
#include <cstdint>

// Milliseconds from an arbitrary monotonic origin.
uint32_t tickCount();

// Test seam: replace the counter (nullptr restores the system's). Not for shipped code.
using TickSource = uint32_t (*)();
void setTickSource(TickSource source);

class Deadline {
  public:
    static constexpr uint32_t kNever = 0xFFFFFFFFu;

    // Due `ms` milliseconds from now; kNever never falls due.
    explicit Deadline(uint32_t ms);

    // The counter stands at or beyond the due tick.
    bool reached() const { return !never_ && sinceDue() >= 0; }
    // The counter stands strictly beyond the due tick.
    bool passed() const { return !never_ && sinceDue() > 0; }
    // Whole milliseconds until passed() becomes true; kNever for a deadline that never
    // falls due. Rounded up, so a wait of that length never ends early.
    uint32_t msUntilPassed() const;

  private:
    int32_t sinceDue() const { return static_cast<int32_t>(tickCount() - due_); }

    uint32_t due_;
    bool never_;
};
