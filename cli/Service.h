#pragma once
// One instrument on one port: connect (through the route), run the command, and fill in the
// service record as it goes.
#include <chrono>
#include <mutex>

#include "cli/Options.h"
#include "cli/Reporter.h"
#include "station/ExitCodes.h"
#include "station/ImageSet.h"
#include "station/ServiceRecord.h"

// The record of the attempt under way, shared by the thread that services the instrument
// and a Ctrl-C that may end the program first: whichever comes first writes it.
class RecordKeeper {
  public:
    // A new attempt: an empty record.
    void begin(int attempt);
    template <class Change>
    void update(Change change) {
        std::lock_guard<std::mutex> lock(mutex_);
        change(record_);
    }
    ServiceRecord record() const;
    // Since the attempt began.
    double seconds() const;
    // The record of an attempt ended by Ctrl-C before its end.
    ServiceRecord interrupted() const;
    // True for the first caller after begin(): it writes the record.
    bool claim();

  private:
    mutable std::mutex mutex_;
    ServiceRecord record_;
    std::chrono::steady_clock::time_point start_;
    bool claimed_ = false;
};

// The command's exit code. Failures are reported through `out` and kept in `record`.
// `images`: upload's, checked already.
int serviceInstrument(const CliOptions& options, const std::string& port, const ImageSet& images,
                      Reporter& out, RecordKeeper& record);

// A read file name for one port: "{port}" and "{serial}" replaced by the port as typed and
// its USB serial number (the port when it has none), made safe for a file name.
std::string readFileFor(const std::string& pattern, const std::string& port,
                        const std::string& serial);
