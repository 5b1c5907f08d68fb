#pragma once
// One instrument on one port: connect (through the route), run the command, and fill in the
// attempt's service record from the same events the command tells.
#include <chrono>
#include <mutex>
#include <optional>

#include "cli/Options.h"
#include "cli/Reporter.h"
#include "records/Journal.h"
#include "station/ServiceRecord.h"

// The record of the attempt under way, shared by the thread that services the instrument
// and an interrupt that may end the program first: whichever comes first writes it. With a
// report, each attempt is in the report's journal until its record is written.
class RecordKeeper {
  public:
    // `report`: where records go; empty: kept only (a station's copy sends its own).
    RecordKeeper(const CheckedRequest& checked, std::string port, std::string report);
    // A new attempt: a new record.
    void begin(int attempt);
    // What an event of the attempt tells.
    void take(const CopyEvent& event);
    void finish(const std::optional<StatusInfo>& after, int exitCode);
    ServiceRecord record() const;
    // Appends the record unless written already (the problem when that failed); `interrupted`:
    // the attempt was cut short, and its record says so.
    std::optional<Problem> write(bool interrupted = false);

  private:
    const CheckedRequest& checked_;
    const std::string port_, report_;
    mutable std::mutex mutex_;
    Journal journal_;
    size_t entry_ = 0;
    ServiceRecord record_;
    std::chrono::steady_clock::time_point start_;
    bool written_ = false;
};

// The command's exit code. Failures are reported through `out` and kept by `keeper`.
int serviceInstrument(const CliOptions& options, const CheckedRequest& checked, Reporter& out,
                      RecordKeeper& keeper);

// A read file name for one port: "{port}" and "{serial}" replaced by the port as typed and
// its USB serial number (the port when it has none), made safe for a file name.
std::string readFileFor(const std::string& pattern, const std::string& port,
                        const std::string& serial);
