#pragma once
// A station without processes: copies that tell what their script says, and ports that
// come and go as a test says, so that the station's own rules are tested in milliseconds.
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "station/CopyRunner.h"
#include "station/WatchedPorts.h"

// What one copy does: its events, then its end. A held copy ends only when the test
// releases it, or when the station terminates it (by SIGTERM, without a record).
struct CopyScript {
    std::vector<CopyEvent> events;
    int exit = 0;        // its exit code
    int signal = 0;      // ended by this signal instead, without a record
    bool record = true;  // sends its record (result and exit) last
    bool held = false;   // its end waits for release()
    std::string result = "ok";
};

class ScriptedCopies : public CopyRunner {
  public:
    // The scripts of the copies started for `port`, one per start, probes and attempts
    // alike, in order.
    void script(const std::string& port, std::vector<CopyScript> scripts);
    size_t start(const CopyOrder& order, const std::string& port) override;
    bool next(CopyMessage& message, Clock::time_point until) override;
    void wake() override;
    void terminate(size_t copy) override;
    // Ends the held copy of `port` that runs now.
    void release(const std::string& port);
    // Waits up to 10 s until `count` copies have been started.
    bool waitForStarts(size_t count);
    // "PORT probe" or "PORT upload": every copy started, in order.
    std::vector<std::string> started() const;

  private:
    void end(size_t copy, const std::string& port, const CopyScript& script, bool terminated);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<CopyMessage> inbox_;
    bool woken_ = false;
    std::map<std::string, std::deque<CopyScript>> scripts_;
    std::map<size_t, std::pair<std::string, CopyScript>> held_;  // by copy
    std::vector<std::string> started_;
};

// Ports present as the test says; a port taken out and put back between two looks is
// told as gone.
class ScriptedPorts : public WatchedPorts {
  public:
    // `real`: the device the name leads to (two names, one device).
    void plug(const std::string& name, const std::string& real);
    void pull(const std::string& name);
    // Nothing changed, but the next look looks (the real watch's rescan now and then).
    void touch();
    bool changed(std::vector<std::string>& gone) override;
    std::vector<WatchedPort> present() override;
    // Another program has the port open: a watch leaves it alone.
    void hold(const std::string& name);
    bool heldByAnother(const PortInfo& port) override;
    std::string realPath(const std::string& device) override;

  private:
    std::mutex mutex_;
    std::map<std::string, WatchedPort> present_;
    std::map<std::string, std::string> links_;  // every name ever plugged: its device
    std::vector<std::string> gone_;
    std::vector<std::string> held_;
    bool changed_ = true;
};
