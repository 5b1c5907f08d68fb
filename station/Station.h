#pragma once
// A production line's station: one command for many instruments, each serviced by a copy
// of the command line of its own (the engine is one per process by design). Either a
// tray of named ports, all at once, or every instrument plugged in while it watches
// (automatic mode). A failed instrument may be tried again, and every attempt leaves its
// service record, also when its copy dies or is abandoned. The command line and the
// station window are its two front ends; it knows nothing of either.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "station/Copies.h"
#include "station/ImageSet.h"
#include "station/ServiceRecord.h"

// What every instrument gets done.
struct StationJob {
    std::string command;  // status, upload, run, read or erase
    std::string route;
    std::vector<Image> images;  // upload: one per product, already checked
    std::string readPattern;    // read: the file name, with {port} or {serial}
    bool runAfter = false, forceProduct = false, allowDowngrade = false, verify = false;
    bool trace = false;
};

// Where and how.
struct StationSetup {
    std::string program;             // the command line to run copies of
    std::vector<std::string> ports;  // a tray: the instruments; watching: which ports count
    bool watch = false;              // service every instrument plugged in
    int count = 0;                   // watching: end after this many (0: until stopped)
    int attempts = 1;                // a device or line failure is tried again up to this
    std::string report;              // service records appended here; empty: none
};

// One instrument serviced: a row of the station's table.
struct Unit {
    enum class Phase { Running, Waiting, Passed, Failed, Interrupted };
    size_t id = 0;
    std::string port;    // as named, or as found
    std::string device;  // what it resolved to
    std::string serial;  // USB serial number
    std::string deviceType = "-", firmwareBefore, firmwareAfter;
    std::string image;  // the image file used
    Phase phase = Phase::Running;
    std::string operation;     // what runs: "connect", "upload", "verify", "read", "erase"...
    int done = 0, pages = 0;   // its progress; pages < 0: a wait of unknown length
    std::string result, hint;  // once ended: "ok" or the error's message, and its hint
    int code = -1;             // once ended: the exit code
    int attempt = 1;
    double seconds = 0;                  // from its first attempt's start to its end
    std::vector<nlohmann::json> events;  // every event of every attempt but progress, in order

    bool ended() const { return phase >= Phase::Passed; }
};

// Reports the station's progress. Called on the thread that runs the station.
class StationListener {
  public:
    virtual ~StationListener() = default;
    // A unit added, or changed: by one of its copy's events (`event`), or by the station
    // (nullptr: started, waiting for its next attempt, ended).
    virtual void unitChanged(const Unit& unit, const nlohmann::json* event) = 0;
    // Watching: a port where no bootloader answers; shown once until it goes and comes back.
    virtual void portPassed(const std::string& port, const std::string& why) = 0;
    // Stopping: no new work; `running` instruments finish unless stopped again.
    virtual void stopping(size_t running) = 0;
    // Something the user should know that is no instrument's (a record that could not be
    // written): the message, a line break and the hint when there is one.
    virtual void problem(const std::string& report) = 0;
};

class Station {
  public:
    Station(StationSetup setup, StationJob job, StationListener& listener);
    // Services the tray, or watches until stopped or `count` instruments are done. The
    // largest of the instruments' exit codes (0 when none was serviced).
    int run();
    // Any thread. The first: nothing new starts (no instrument, no further attempt) and
    // the running ones finish. The second: the running ones are ended now and recorded as
    // interrupted.
    void stop();
    const std::vector<Unit>& units() const { return units_; }
    size_t passed() const;
    size_t failed() const;

  private:
    using Clock = std::chrono::steady_clock;
    // A copy: the probe of a port, or an attempt of a unit.
    struct Copy {
        bool probe = false;
        std::string port;  // probe: the port probed
        size_t unit = 0;
        Clock::time_point started;
        int64_t startedAt = 0;  // seconds since 1970, UTC
        nlohmann::json record;  // the service record it sent, if any
        nlohmann::json status;  // its status event, if any
        std::string error;      // its error message, if any
        bool abandoned = false;
    };
    // A watched port, by name: what was done with it during this plugging.
    struct Plugging {
        std::string real;    // its device, links resolved
        std::string device;  // as named
    };

    std::vector<std::string> copyArguments(const std::string& port, bool probe) const;
    void startUnit(const std::string& port, const nlohmann::json* status);
    void startAttempt(Unit& unit);
    void handle(const Copies::Message& message);
    void unitEvent(Unit& unit, const nlohmann::json& event);
    void attemptEnded(Unit& unit, const Copy& copy, const ChildExit& exit);
    void endUnit(Unit& unit, Unit::Phase phase);
    // From the unit's first attempt's start to now.
    double secondsOf(const Unit& unit) const;
    void writeRecord(const Unit& unit, const Copy& copy);
    // Watching: probes the ports that came since the last look.
    void lookAtPorts(class PortWatch& watch);
    // New instruments may still start: not stopping, and `count` not yet under way.
    bool acceptsNew() const;
    bool finished() const;
    void applyStop();

    StationSetup setup_;
    StationJob job_;
    StationListener& listener_;
    Copies copies_;
    std::map<size_t, Copy> running_;  // by copy number
    std::vector<Unit> units_;
    std::vector<Clock::time_point> firstStart_;         // by unit
    std::multimap<Clock::time_point, size_t> retries_;  // when, unit
    std::map<std::string, Plugging> plugged_;           // watched ports present, by name
    std::atomic<int> stopsAsked_{0};
    int stopLevel_ = 0;  // the stops acted on
    bool reportFailed_ = false;
};
