#pragma once
// The attempts under way, kept on the disk beside the report until their records are in it,
// so that a station that ends before its instruments (killed, crashed, the power cut) loses
// none of them: the next run on the same report turns what its journal holds into records.
//
// Each station keeps a journal of its own, "REPORT.<id>.journal", rewritten whole at every
// change and put on the disk before the change counts, and holds a lock on
// "REPORT.<id>.journal.lock" while it lives. A journal whose lock nobody holds belongs to a
// station that has ended.
#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "support/Files.h"
#include "support/Problem.h"

class Journal {
  public:
    // Kept beside `report`; nothing is kept when `report` is empty.
    explicit Journal(const std::string& report);
    // Every entry has ended: the journal's files are removed.
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // An attempt under way, as its record must read if the station ends before it: its
    // number. `problem` is set when the journal could not be written.
    size_t begin(const nlohmann::json& record, std::optional<Problem>& problem);
    // The entry as its record now reads (more is known: the instrument's status, its image).
    void update(size_t entry, const nlohmann::json& record, std::optional<Problem>& problem);
    // The attempt's own record is in the report: the entry goes.
    void end(size_t entry, std::optional<Problem>& problem);

  private:
    void write(std::optional<Problem>& problem);

    std::string path_;  // empty: nothing is kept
    std::unique_ptr<FileLock> lock_;
    std::map<size_t, nlohmann::json> entries_;
    size_t next_ = 0;
};

// The journals beside `report` whose stations have ended: each of their entries appended to
// the report as a record, then the journal removed. The records written; `problem` is set
// when one could not be.
size_t recoverJournals(const std::string& report, std::optional<Problem>& problem);

// What opening a report mended before anything is appended to it.
struct ReportRepair {
    bool sealed = false;             // its last line was cut short and is now ended
    size_t recovered = 0;            // entries of ended stations' journals, now records
    std::optional<Problem> problem;  // one could not be written
};
// Seals a cut last line, then recovers the journals of stations that ended.
ReportRepair repairReport(const std::string& report);
