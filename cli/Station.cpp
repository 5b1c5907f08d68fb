#include "cli/Station.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "cli/Copies.h"

namespace {
using Clock = std::chrono::steady_clock;

// One instrument as the station shows it.
struct Unit {
    std::string port;
    std::string device = "-";
    std::string state = "starting";
    std::string result;  // "ok" or the error's message
    int code = 1;
    double seconds = 0;
    bool ended = false;
};

// The arguments of the copy that serves `port`: the same command in JSON.
std::vector<std::string> copyArguments(const CliOptions& o, const std::string& port) {
    std::vector<std::string> args = {"--json", "--station-copy", "--port", port};
    const std::pair<const char*, const std::string*> kValues[] = {{"--route", &o.route},
                                                                  {"--report", &o.report}};
    for (const auto& [name, value] : kValues) {
        if (!value->empty()) {
            args.insert(args.end(), {name, *value});
        }
    }
    if (o.trace) {
        args.push_back("--trace");
    }
    args.push_back(o.command);
    if (!o.file.empty()) {
        args.push_back(o.file);
    }
    const std::pair<const char*, bool> kFlags[] = {{"--run", o.runAfter},
                                                   {"--force-product", o.forceProduct},
                                                   {"--allow-downgrade", o.allowDowngrade},
                                                   {"--verify", o.verify}};
    for (const auto& [name, on] : kFlags) {
        if (on) {
            args.push_back(name);
        }
    }
    return args;
}

std::string pad(const std::string& text, size_t width) {
    return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

class StationView {
  public:
    StationView(std::vector<Unit>& units, Reporter& out, bool terminal)
        : units_(units), out_(out), terminal_(terminal && !out.json()) {}

    void update(size_t i, const nlohmann::json& event) {
        Unit& u = units_[i];
        const std::string kind = event.value("event", "");
        std::string line;  // what a plain log shows of it
        if (kind == "connected") {
            u.state = "connected";
        } else if (kind == "status") {
            u.device = event.value("device", "-");
        } else if (kind == "started") {
            u.state = event.value("operation", "") + ": started";
            line = u.state;
        } else if (kind == "progress") {
            u.state = event.value("operation", "") + ": " + std::to_string(event.value("done", 0)) +
                      "/" + std::to_string(event.value("pages", 0)) + " pages (" +
                      std::to_string(event.value("percent", 0)) + "%)";
        } else if (kind == "finished") {
            u.state = event.value("operation", "") + ": done";
            line = u.state;
        } else if (kind == "error") {
            u.result = event.value("message", "");
            u.state = "failed: " + u.result;
            const std::string hint = event.value("hint", "");
            errors_.push_back(u.port + ": " + u.result + (hint.empty() ? "" : "\n" + hint));
            if (!terminal_ && !out_.json()) {
                out_.error(errors_.back());  // at once in a log; after the table on a terminal
            }
        } else if (kind == "result" && event.value("exit", 1) == 0) {
            u.state = "ok";  // the result and the code come from the copy's exit
        }
        if (out_.json()) {
            nlohmann::json tagged = event;
            tagged["port"] = u.port;
            out_.event("", tagged);
        } else if (terminal_) {
            draw(kind != "progress");
        } else if (!line.empty()) {
            out_.event(u.port + ": " + line, {});
        }
    }

    // One line per instrument, redrawn in place; progress at most ten times a second.
    void draw(bool now) {
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
                        pad(u.device, 12).c_str(), u.state.c_str());
        }
        std::fflush(stdout);
        drawn_ = true;
    }

    size_t width() const {
        size_t w = 4;
        for (const Unit& u : units_) {
            w = std::max(w, u.port.size());
        }
        return w;
    }

    void summary() {
        if (terminal_) {
            draw(true);
        }
        nlohmann::json all = nlohmann::json::array();
        std::string table = pad("port", width()) + "  " + pad("device", 12) + "  result\n";
        for (const Unit& u : units_) {
            char time[32];
            std::snprintf(time, sizeof time, "%.1f s", u.seconds);
            table += pad(u.port, width()) + "  " + pad(u.device, 12) + "  " + u.result + "  (" +
                     time + ")\n";
            all.push_back({{"port", u.port},
                           {"device", u.device},
                           {"result", u.result},
                           {"exit", u.code},
                           {"seconds", std::round(u.seconds * 1000) / 1000}});
        }
        table.pop_back();
        out_.event(table, {{"event", "summary"}, {"instruments", all}});
        if (terminal_) {
            for (const std::string& error : errors_) {
                out_.error(error);
            }
        }
    }

  private:
    std::vector<Unit>& units_;
    Reporter& out_;
    bool terminal_;
    std::vector<std::string> errors_;  // each with its port and hint
    bool drawn_ = false;
    Clock::time_point lastDraw_;
};
}  // namespace

int runStation(const CliOptions& o, Reporter& out, bool terminal) {
    std::vector<Unit> units;
    std::vector<std::vector<std::string>> copies;
    for (const std::string& port : o.ports) {
        units.emplace_back();
        units.back().port = port;
        copies.push_back(copyArguments(o, port));
    }
    StationView view(units, out, terminal);
    const auto start = Clock::now();
    const std::vector<int> codes = runCopies(copies, [&](size_t i, const nlohmann::json& event) {
        view.update(i, event);
        if (event.value("event", "") == "result") {
            units[i].seconds = std::chrono::duration<double>(Clock::now() - start).count();
        }
    });
    int worst = 0;
    for (size_t i = 0; i < units.size(); ++i) {
        units[i].code = codes[i];  // the exit code itself, also of a copy that said nothing
        if (units[i].result.empty()) {
            units[i].result = codes[i] == 0 ? "ok" : "failed";
        }
        worst = std::max(worst, codes[i]);
    }
    view.summary();
    return worst;
}
