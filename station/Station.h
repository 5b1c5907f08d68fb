#pragma once
// A production line's station: one command for many instruments, each serviced by a copy
// of the command line of its own (the engine is one per process by design). Either a
// tray of named ports, all at once, or every instrument plugged in while it watches
// (automatic mode). A failed instrument may be tried again, and every attempt leaves its
// service record, also when its copy dies, is abandoned, or the station itself ends first
// (its journal). The command line and the station window are its two front ends; it knows
// nothing of either. It keeps only the instruments still at work, so a watch may run for a
// whole shift.
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "records/Journal.h"
#include "station/CopyRunner.h"
#include "station/Request.h"
#include "station/ServiceRecord.h"
#include "station/Unit.h"
#include "station/WatchedPorts.h"

// Reports the station's progress. Called on the thread that runs the station.
class StationListener {
  public:
    virtual ~StationListener() = default;
    // A unit added, or changed: by one of its copy's events (`event`), or by the station
    // (nullptr: started, waiting for its next attempt, ended). An ended unit is not
    // reported again.
    virtual void unitChanged(const Unit& unit, const CopyEvent* event) = 0;
    // Watching: a port where no bootloader answers; shown once until it goes and comes back.
    virtual void portPassed(const std::string& port, const std::string& why) = 0;
    // Stopping: no new work; `running` instruments finish unless stopped again.
    virtual void stopping(size_t running) = 0;
    // Something the user should know that is no instrument's (a record that could not be
    // written).
    virtual void problem(const Problem& problem) = 0;
    // Before anything else: the report was mended, its last line cut short (`sealed`), and
    // `recovered` instruments that a station which ended before them left in its journal
    // recorded as interrupted.
    virtual void reportRepaired(const std::string& report, bool sealed, size_t recovered) = 0;
    // A batch: the instruments passed in it so far, the report's earlier ones included, and
    // its target (0: none). At the start and as each passes.
    virtual void batchChanged(size_t passed, int quantity) { (void)passed, (void)quantity; }
};

class Station {
  public:
    using Clock = std::chrono::steady_clock;
    // `ports`: what a watch looks at (needed with `request.watch`). The copies and the ports
    // outlive the station.
    Station(CheckedRequest request, StationListener& listener, CopyRunner& copies,
            WatchedPorts* ports = nullptr);
    // Services the tray, or watches until stopped or `count` instruments are done. The
    // largest of the instruments' exit codes (0 when none was serviced; 1 when a record
    // could not be written).
    int run();
    // Any thread. The first: nothing new starts (no instrument, no further attempt) and
    // the running ones finish. The second: the running ones are ended now and recorded as
    // interrupted.
    void stop();
    // Any thread: a label read (typed, or a barcode scanner's line) while watching, for the
    // next instrument plugged in; a second before that replaces it.
    void labelScanned(const std::string& label);
    size_t passed() const { return passed_; }
    size_t failed() const { return failed_; }
    // How long a failed attempt waits before the next (tests wait less).
    void setRetryPause(Clock::duration pause) { retryPause_ = pause; }

  private:
    // A copy asking a watched port whether a bootloader answers.
    struct Probe {
        WatchedPort port;
        bool answered = false;
        StatusInfo status;
        std::string error;
        bool abandoned = false;
    };
    // A copy servicing a unit: one attempt.
    struct Attempt {
        size_t unit = 0;
        Clock::time_point started;
        ServiceRecord record;  // built from its events, for a copy that sends none
        nlohmann::json own;    // the record the copy sent, if it did
        size_t entry = 0;      // in the journal
        bool abandoned = false;
    };
    // A watched device during one plugging: done with, or under way.
    struct Plugging {
        std::string real;    // its device, links resolved
        std::string device;  // as named
    };

    void mendReport();
    // A batch's earlier instruments in the report: how many passed, and their labels.
    void countBatch();
    // Whether the unit may be serviced: not without a label when a tray's job asks for
    // labels (its record says so), nor when its label passed in this batch already and the
    // job does not service a label twice.
    bool mayService(Unit& unit);
    bool targetReached() const;
    void startUnit(const std::string& port, const Probe* probe);
    void startAttempt(Unit& unit);
    void startProbe(const WatchedPort& port);
    void handle(const CopyMessage& message);
    void probeEnded(const Probe& probe);
    void unitEvent(Unit& unit, Attempt& attempt, const CopyEvent& event);
    void attemptEnded(Unit& unit, const Attempt& attempt, const ChildExit& exit);
    void writeRecord(const Unit& unit, const Attempt& attempt, nlohmann::json line);
    // The line in the report with the station's words for the unit; false when it is not
    // there (no report, or the append failed, which is told).
    bool appendLine(const Unit& unit, nlohmann::json line);
    void endUnit(Unit& unit, Unit::Phase phase);
    // Tells the listener; `recordLost`: a record is not in the report, which the exit code
    // must say.
    void report(const std::optional<Problem>& problem, bool recordLost);
    double secondsOf(const Unit& unit) const;
    // Watching: probes the ports that came since the last look.
    void lookAtPorts();
    std::vector<WatchedPort> freshPorts();
    void startDueRetries();
    // New instruments may still start: not stopping, and `count` not yet under way.
    bool acceptsNew() const;
    bool finished() const;
    void applyStop();

    CheckedRequest request_;
    CopyOrder order_;
    StationListener& listener_;
    CopyRunner& copies_;
    WatchedPorts* ports_;
    Journal journal_;
    std::map<size_t, Probe> probes_;                    // by copy number
    std::map<size_t, Attempt> attempts_;                // by copy number
    std::map<size_t, Unit> units_;                      // by unit id: those not yet ended
    std::map<size_t, Clock::time_point> firstStart_;    // by unit id
    std::multimap<Clock::time_point, size_t> retries_;  // when, unit
    std::map<std::string, Plugging> plugged_;           // watched devices present, by real path
    size_t unitsStarted_ = 0;
    size_t passedInBatch_ = 0;
    std::map<std::string, std::string> labelsPassed_;  // in this batch: label, local date
    std::mutex labelMutex_;
    std::string scannedLabel_;  // for the next instrument plugged in
    size_t passed_ = 0, failed_ = 0;
    int worst_ = 0;
    std::atomic<int> stopsAsked_{0};
    int stopLevel_ = 0;  // the stops acted on
    Clock::duration retryPause_;
    bool reportFailed_ = false;
};
