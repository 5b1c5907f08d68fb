#pragma once
// The tick clock of tests that measure the engine's waits on a virtual instrument. It runs
// ten times faster than real time while the host can only wait for the instrument, and at
// real speed otherwise: seconds of waiting in vain cost a tenth of that, while an answer
// on a busy machine keeps its whole limit. A stall of the threads that read the clock (a
// loaded machine's scheduler) counts at real speed beyond its first 20 ms, so that it does
// not turn into ten times as many ticks.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

class VirtualInstrument;

class WaitClock {
  public:
    // Installs itself as the tick source, at real speed until follow().
    WaitClock();
    ~WaitClock();
    WaitClock(const WaitClock&) = delete;
    WaitClock& operator=(const WaitClock&) = delete;

    void follow(const VirtualInstrument& sim) { sim_.store(&sim); }
    // The host put a frame on the line: real speed until the instrument has taken it.
    void hostSent() { sent_.fetch_add(1); }

  private:
    static uint32_t ticks();
    uint32_t advance();
    bool hostOnlyWaits() const;

    std::atomic<const VirtualInstrument*> sim_{nullptr};
    std::atomic<uint32_t> sent_{0};
    std::mutex mutex_;
    std::chrono::steady_clock::time_point last_;
    uint64_t micros_ = 0;
};
