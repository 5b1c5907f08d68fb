#pragma once
// Copies of the command line, one per instrument (the engine is one per process by
// design), each reporting in JSON lines. A reader thread per copy hands its lines and its
// end to one inbox, which the owner empties on its own thread.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "station/ChildProgram.h"

class Copies {
  public:
    using Clock = std::chrono::steady_clock;
    // One line of a copy (a line that is not JSON comes as {"event":"text","text":...}),
    // or its end.
    struct Message {
        size_t copy = 0;
        bool ended = false;
        nlohmann::json event;
        ChildExit exit;
    };

    // `program`: the command line to run copies of.
    explicit Copies(std::string program);
    // Ends the copies still running and waits for their readers.
    ~Copies();
    Copies(const Copies&) = delete;
    Copies& operator=(const Copies&) = delete;

    // Starts a copy with these arguments; its number. A copy that cannot be started sends
    // one "error" event and ends at once, with exit code 1.
    size_t start(const std::vector<std::string>& args);
    // The next message, waiting until `until` at most; false when none came in time or the
    // wait was woken.
    bool next(Message& message, Clock::time_point until);
    // Any thread: makes the owner's wait in next() return now.
    void wake();
    // Ends a running copy now; its end still comes as a message.
    void terminate(size_t copy);
    // Copies started whose end has not yet been taken from the inbox.
    size_t running() const;

  private:
    void post(Message message);

    const std::string program_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Message> inbox_;
    bool woken_ = false;
    size_t running_ = 0;
    std::vector<std::unique_ptr<ChildProgram>> children_;  // null: could not be started
    std::vector<std::thread> readers_;
};

// Runs one copy per argument list, all at once, and hands each event to `onEvent` with
// the copy's index, on the calling thread, as it comes. The copies' exit codes.
std::vector<int> runCopies(const std::string& program,
                           const std::vector<std::vector<std::string>>& argLists,
                           const std::function<void(size_t, const nlohmann::json&)>& onEvent);
