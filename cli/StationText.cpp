#include "cli/StationText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "support/Utf8.h"

namespace {
using Clock = std::chrono::steady_clock;

std::string seconds(const Unit& u) {
    char text[48];
    std::snprintf(text, sizeof text, "%.1f s", u.seconds);
    return u.attempt > 1 ? std::string(text) + ", " + std::to_string(u.attempt) + " attempts"
                         : std::string(text);
}

// What an instrument is doing, or how it ended.
std::string state(const Unit& u) {
    const std::string operation = operationName(u.operation);
    switch (u.step()) {
        case Unit::Step::Starting:
            return "starting";
        case Unit::Step::Connected:
            return "connected";
        case Unit::Step::Working:
            return operation + ": " + std::to_string(u.done) + "/" + std::to_string(u.pages) +
                   " pages (" + std::to_string(u.percent()) + "%)";
        case Unit::Step::WaitingOnIt:
            return operation + ": waiting for the instrument";
        case Unit::Step::StepDone:
            return operation + ": done";
        case Unit::Step::TryingAgain:
            return "failed: " + u.result + "; attempt " + std::to_string(u.attempt + 1) +
                   " in a second";
        case Unit::Step::Passed:
            return "ok";
        case Unit::Step::Failed:
            return "failed: " + u.result;
        case Unit::Step::Interrupted:
            break;
    }
    return "interrupted";
}

nlohmann::json unitJson(const Unit& u) {
    nlohmann::json j = {{"port", u.port},
                        {"device", u.deviceType},
                        {"result", u.phase == Unit::Phase::Passed ? std::string("ok") : u.result},
                        {"exit", u.code},
                        {"attempts", u.attempt},
                        {"seconds", std::round(u.seconds * 1000) / 1000}};
    const std::pair<const char*, const std::string*> kStation[] = {
        {"slot", &u.slot}, {"label", &u.label}, {"servicedBefore", &u.servicedBefore}};
    for (const auto& [field, value] : kStation) {
        if (!value->empty()) {
            j[field] = *value;
        }
    }
    return j;
}

// Where an instrument is and what it is called: its slot before its port, its label after.
std::string place(const Unit& u, size_t width) {
    return pad(u.slot.empty() ? u.port : u.slot + " " + u.port, width);
}
}  // namespace

StationText::StationText(Reporter& out, bool terminal, bool watching)
    : out_(out), inPlace_(terminal && !watching && !out.json()), watching_(watching) {}

std::string StationText::row(const Unit& u) const {
    const size_t width = watching_ ? std::max<size_t>(4, place(u, 0).size()) : this->width();
    return place(u, width) + "  " + pad(u.deviceType, 12) + "  " +
           (u.phase == Unit::Phase::Passed ? std::string("ok") : u.result) + "  (" + seconds(u) +
           ")" + (u.label.empty() ? "" : "  label " + u.label) +
           (u.servicedBefore.empty() || u.phase != Unit::Phase::Passed
                ? ""
                : ", serviced before (" + u.servicedBefore + ")");
}

void StationText::unitChanged(const Unit& unit, const CopyEvent* event) {
    if (!watching_) {
        units_.resize(std::max(units_.size(), unit.id + 1));
        units_[unit.id] = unit;
    }
    if (out_.json()) {
        tellJson(unit, event);
    } else {
        tellText(unit, event);
    }
}

void StationText::tellJson(const Unit& unit, const CopyEvent* event) {
    if (event != nullptr) {
        nlohmann::json tagged = eventJson(*event);
        tagged["port"] = unit.port;
        tagged["attempt"] = unit.attempt;
        out_.event("", tagged);
    } else if (unit.ended()) {
        nlohmann::json j = unitJson(unit);
        j["event"] = "instrument";
        out_.event("", j);
    }
}

void StationText::tellText(const Unit& unit, const CopyEvent* event) {
    using Kind = CopyEvent::Kind;
    const Kind kind = event != nullptr ? event->kind : Kind::Text;
    // Refused by the station before any copy spoke (no label, say): told as a copy's error.
    const bool refused = event == nullptr && unit.phase == Unit::Phase::Failed &&
                         unit.events.empty() && !unit.hint.empty();
    if (kind == Kind::Error || refused) {
        Problem error = refused ? Problem(unit.code, unit.result, unit.hint) : event->problem;
        error.message = unit.port + ": " + error.message;
        if (inPlace_) {
            errors_.push_back(error);  // after the table on a terminal
        } else {
            out_.error(error);  // at once in a log
        }
    }
    if (inPlace_) {
        draw(kind != Kind::Progress);
        return;
    }
    if (kind == Kind::Started || kind == Kind::Finished) {
        out_.event(unit.port + ": " + operationName(event->operation) +
                       (kind == Kind::Started ? ": started" : ": done"),
                   {});
    } else if (event == nullptr && unit.phase == Unit::Phase::Waiting) {
        out_.event(unit.port + ": attempt " + std::to_string(unit.attempt) +
                       " failed; trying again in a second",
                   {});
    } else if (event == nullptr && unit.ended() && watching_) {
        out_.event(row(unit), {});  // a tray's come in the table at the end
    }
}

void StationText::portPassed(const std::string& port, const std::string& why) {
    out_.event(port + ": no bootloader answers" +
                   (why == "no bootloader answers" ? std::string() : " (" + why + ")"),
               {{"event", "passed"}, {"port", port}, {"message", why}});
}

void StationText::stopping(size_t running) {
    if (running == 0) {
        return;
    }
    const bool one = running == 1;
    out_.event("stopping: " + std::to_string(running) + (one ? " instrument" : " instruments") +
                   " still running; Ctrl-C again abandons " + (one ? "it" : "them"),
               {{"event", "stopping"}, {"running", running}});
    drawn_ = false;  // the lines drawn in place start again below the message
}

void StationText::problem(const Problem& problem) {
    out_.error(problem);
    drawn_ = false;
}

void StationText::reportRepaired(const std::string& report, bool sealed, size_t recovered) {
    ReportRepair repair;
    repair.sealed = sealed;
    repair.recovered = recovered;
    tellRepair(out_, report, repair);
}

void tellRepair(Reporter& out, const std::string& report, const ReportRepair& repair) {
    if (repair.sealed) {
        out.event(report +
                      ": its last line was cut short; the records after it start a line "
                      "of their own",
                  {{"event", "repaired"}, {"report", report}, {"sealed", true}});
    }
    if (repair.recovered > 0) {
        const bool one = repair.recovered == 1;
        out.event(report + ": " + std::to_string(repair.recovered) +
                      (one ? " instrument" : " instruments") +
                      " left behind by a station that ended before " + (one ? "it" : "them") +
                      " recorded as interrupted",
                  {{"event", "recovered"}, {"report", report}, {"records", repair.recovered}});
    }
    if (repair.problem) {
        out.error(*repair.problem);
    }
}

// One line per instrument, redrawn in place; progress at most ten times a second.
void StationText::draw(bool now) {
    const auto at = Clock::now();
    if (!now && drawn_ && at - lastDraw_ < std::chrono::milliseconds(100)) {
        return;
    }
    lastDraw_ = at;
    if (drawn_) {
        std::printf("\x1b[%zuA", units_.size());
    }
    for (const Unit& u : units_) {
        std::printf(
            "\r\x1b[K%s\n",
            printable(place(u, width()) + " " + pad(u.deviceType, 12) + " " + state(u)).c_str());
    }
    std::fflush(stdout);
    drawn_ = true;
}

size_t StationText::width() const {
    size_t w = 4;
    for (const Unit& u : units_) {
        w = std::max(w, place(u, 0).size());
    }
    return w;
}

void StationText::batchChanged(size_t passed, int quantity) {
    const std::string of = quantity > 0 ? " of " + std::to_string(quantity) : "";
    batch_ = "batch: " + std::to_string(passed) + of + " passed";
    if (watching_ || out_.json()) {
        out_.event(batch_, {{"event", "batch"}, {"passed", passed}, {"quantity", quantity}});
    }
}

void StationText::summary(const Station& station) {
    if (inPlace_ && !units_.empty()) {
        draw(true);
    }
    nlohmann::json all = nlohmann::json::array();
    std::string table;
    if (!watching_) {  // a watch told each instrument as it ended
        table = pad("port", width()) + "  " + pad("device", 12) + "  result\n";
        for (const Unit& u : units_) {
            table += row(u) + "\n";
            all.push_back(unitJson(u));
        }
    }
    const std::string counts = std::to_string(station.passed()) + " passed, " +
                               std::to_string(station.failed()) + " failed";
    out_.event(table + counts + (batch_.empty() ? "" : "\n" + batch_),
               {{"event", "summary"},
                {"instruments", all},
                {"passed", station.passed()},
                {"failed", station.failed()}});
    if (inPlace_) {
        for (const Problem& error : errors_) {
            out_.error(error);
        }
    }
}
