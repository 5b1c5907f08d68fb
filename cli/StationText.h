#pragma once
// The station on a terminal, in a log or in JSON: a tray on a terminal as one line per
// instrument redrawn in place; otherwise a line per step, and while watching a line per
// instrument serviced; at the end one table with the counts of passed and failed.
#include <chrono>

#include "cli/Reporter.h"
#include "station/Station.h"

class StationText : public StationListener {
  public:
    // `watching`: instruments come and go, so nothing is drawn in place.
    StationText(Reporter& out, bool terminal, bool watching);

    void unitChanged(const Unit& unit, const nlohmann::json* event) override;
    void portPassed(const std::string& port, const std::string& why) override;
    void stopping(size_t running) override;
    void problem(const std::string& report) override;
    // The table of every instrument and the counts; the errors a terminal kept back.
    void summary(const Station& station);

  private:
    void draw(bool now);
    size_t width() const;
    std::string row(const Unit& unit) const;

    Reporter& out_;
    const bool inPlace_;
    const bool watching_;
    std::vector<Unit> units_;          // as last reported
    std::vector<std::string> errors_;  // kept back while lines are drawn in place
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDraw_;
};
