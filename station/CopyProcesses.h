#pragma once
// Copies of the command line as processes, each read by a thread of its own that hands its
// lines and its end to the inbox. A copy's pipe, process and reader are released as soon
// as its end is taken from the inbox, so nothing grows with the copies run.
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "station/CopyRunner.h"

class CopyProcesses : public CopyRunner {
  public:
    // `program`: the command line to run copies of.
    explicit CopyProcesses(std::string program);
    // Ends the copies still running and waits for their readers.
    ~CopyProcesses() override;
    CopyProcesses(const CopyProcesses&) = delete;
    CopyProcesses& operator=(const CopyProcesses&) = delete;

    size_t start(const CopyOrder& order, const std::string& port) override;
    // A copy started with these arguments: a command other than a service.
    size_t startWith(const std::vector<std::string>& args);
    bool next(CopyMessage& message, Clock::time_point until) override;
    void wake() override;
    void terminate(size_t copy) override;
    // Copies started whose end has not yet been taken from the inbox.
    size_t running() const;

  private:
    struct Child {
        std::unique_ptr<ChildProgram> program;  // null: it could not be started
        std::thread reader;
    };
    void post(CopyMessage message);
    // The copy's end was taken: its reader has posted its last and ends; it is let go.
    void release(size_t copy);

    const std::string program_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<CopyMessage> inbox_;
    bool woken_ = false;
    size_t next_ = 0;
    std::map<size_t, Child> children_;  // by number, until their end is taken
};

// Runs one copy per argument list, all at once, and hands each event to `onEvent` with
// the copy's index, on the calling thread, as it comes. The copies' exit codes.
std::vector<int> runCopies(const std::string& program,
                           const std::vector<std::vector<std::string>>& argLists,
                           const std::function<void(size_t, const CopyEvent&)>& onEvent);
