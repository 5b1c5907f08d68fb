#pragma once
// How the station runs its copies: started with their arguments, each reporting its events
// and then its end into one inbox that the station empties on its own thread. The real
// copies are processes (CopyProcesses); a test gives scripted ones.
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "station/ChildProgram.h"
#include "station/Protocol.h"

// One event of a copy, or its end (its last message).
struct CopyMessage {
    size_t copy = 0;
    bool ended = false;
    CopyEvent event;
    ChildExit exit;
};

class CopyRunner {
  public:
    using Clock = std::chrono::steady_clock;
    virtual ~CopyRunner() = default;
    // Starts a copy doing `order` to the instrument on `port`; its number. A copy that cannot
    // be started sends one error event and ends at once, with exit code 1.
    virtual size_t start(const CopyOrder& order, const std::string& port) = 0;
    // The next message, waiting until `until` at most; false when none came in time or the
    // wait was woken.
    virtual bool next(CopyMessage& message, Clock::time_point until) = 0;
    // Any thread: makes the owner's wait in next() return now.
    virtual void wake() = 0;
    // Ends a running copy now; its end still comes as a message.
    virtual void terminate(size_t copy) = 0;
};
