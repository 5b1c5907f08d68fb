#pragma once
// The station on a terminal, in a log or in JSON: a tray on a terminal as one line per
// instrument redrawn in place; otherwise a line per step, and while watching a line per
// instrument serviced; at the end the table of a tray's instruments and the counts of
// passed and failed.
#include <chrono>

#include "cli/Reporter.h"
#include "records/Journal.h"
#include "station/Station.h"

class StationText : public StationListener {
  public:
    // `watching`: instruments come and go, so nothing is drawn in place and each is told
    // as it ends; the table at the end is a tray's alone.
    StationText(Reporter& out, bool terminal, bool watching);

    void unitChanged(const Unit& unit, const CopyEvent* event) override;
    void portPassed(const std::string& port, const std::string& why) override;
    void stopping(size_t running) override;
    void problem(const Problem& problem) override;
    void reportRepaired(const std::string& report, bool sealed, size_t recovered) override;
    void batchChanged(size_t passed, int quantity) override;
    // The table of a tray's instruments and the counts; the errors a terminal kept back.
    void summary(const Station& station);

  private:
    void draw(bool now);
    size_t width() const;
    std::string row(const Unit& unit) const;
    void tellJson(const Unit& unit, const CopyEvent* event);
    void tellText(const Unit& unit, const CopyEvent* event);

    Reporter& out_;
    const bool inPlace_;
    const bool watching_;
    std::vector<Unit> units_;      // a tray's, as last reported
    std::vector<Problem> errors_;  // kept back while lines are drawn in place
    bool drawn_ = false;
    std::string batch_;  // "batch: 143 of 200 passed"
    std::chrono::steady_clock::time_point lastDraw_;
};

// What opening the report mended, told before anything else.
void tellRepair(Reporter& out, const std::string& report, const ReportRepair& repair);
