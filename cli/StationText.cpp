#include "cli/StationText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

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
    switch (u.phase) {
        case Unit::Phase::Passed:
            return "ok";
        case Unit::Phase::Failed:
            return "failed: " + u.result;
        case Unit::Phase::Interrupted:
            return "interrupted";
        case Unit::Phase::Waiting:
            return "failed: " + u.result + "; attempt " + std::to_string(u.attempt + 1) +
                   " in a second";
        case Unit::Phase::Running:
            break;
    }
    if (u.operation == "connect" || u.operation == "connected") {
        return u.operation == "connect" ? "starting" : "connected";
    }
    if (u.pages < 0) {
        return u.operation + ": waiting for the instrument";
    }
    if (u.done >= u.pages && u.pages > 0) {
        return u.operation + ": done";
    }
    return u.operation + ": " + std::to_string(u.done) + "/" + std::to_string(u.pages) +
           " pages (" + std::to_string(u.pages > 0 ? 100 * u.done / u.pages : 0) + "%)";
}

nlohmann::json unitJson(const Unit& u) {
    return {{"port", u.port},
            {"device", u.deviceType},
            {"result", u.phase == Unit::Phase::Passed ? std::string("ok") : u.result},
            {"exit", u.code},
            {"attempts", u.attempt},
            {"seconds", std::round(u.seconds * 1000) / 1000}};
}
}  // namespace

StationText::StationText(Reporter& out, bool terminal, bool watching)
    : out_(out), inPlace_(terminal && !watching && !out.json()), watching_(watching) {}

std::string StationText::row(const Unit& u) const {
    return pad(u.port, width()) + "  " + pad(u.deviceType, 12) + "  " +
           (u.phase == Unit::Phase::Passed ? std::string("ok") : u.result) + "  (" + seconds(u) +
           ")";
}

void StationText::unitChanged(const Unit& unit, const nlohmann::json* event) {
    if (unit.id >= units_.size()) {
        units_.resize(unit.id + 1);
    }
    units_[unit.id] = unit;
    const std::string kind = event ? event->value("event", "") : std::string();
    if (out_.json()) {
        if (event != nullptr) {
            nlohmann::json tagged = *event;
            tagged["port"] = unit.port;
            tagged["attempt"] = unit.attempt;
            out_.event("", tagged);
        } else if (unit.ended()) {
            nlohmann::json j = unitJson(unit);
            j["event"] = "instrument";
            out_.event("", j);
        }
        return;
    }
    if (kind == "error") {
        const std::string hint = event->value("hint", "");
        errors_.push_back(unit.port + ": " + event->value("message", "") +
                          (hint.empty() ? "" : "\n" + hint));
        if (!inPlace_) {
            out_.error(errors_.back());  // at once in a log; after the table on a terminal
        }
    }
    if (inPlace_) {
        draw(kind != "progress");
        return;
    }
    if (kind == "started" || kind == "finished") {
        out_.event(unit.port + ": " + event->value("operation", "") +
                       (kind == "started" ? ": started" : ": done"),
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

void StationText::problem(const std::string& report) {
    out_.error(report);
    drawn_ = false;
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
        std::printf("\r\x1b[K%s %s %s\n", pad(u.port, width()).c_str(),
                    pad(u.deviceType, 12).c_str(), state(u).c_str());
    }
    std::fflush(stdout);
    drawn_ = true;
}

size_t StationText::width() const {
    size_t w = 4;
    for (const Unit& u : units_) {
        w = std::max(w, u.port.size());
    }
    return w;
}

void StationText::summary(const Station& station) {
    if (inPlace_ && !units_.empty()) {
        draw(true);
    }
    nlohmann::json all = nlohmann::json::array();
    std::string table = pad("port", width()) + "  " + pad("device", 12) + "  result\n";
    for (const Unit& u : station.units()) {
        table += row(u) + "\n";
        all.push_back(unitJson(u));
    }
    const std::string counts = std::to_string(station.passed()) + " passed, " +
                               std::to_string(station.failed()) + " failed";
    out_.event(table + counts, {{"event", "summary"},
                                {"instruments", all},
                                {"passed", station.passed()},
                                {"failed", station.failed()}});
    if (inPlace_) {
        for (const std::string& error : errors_) {
            out_.error(error);
        }
    }
}
