// The station, told on the terminal, in a log or in JSON: several instruments at once or
// every instrument plugged in, each by a copy of this program; one instrument by a copy in
// this process, whose steps are told as they happen. And a station's copy.
#include <atomic>
#include <condition_variable>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>

#include "cli/Commands.h"
#include "cli/Platform.h"
#include "cli/StationText.h"
#include "station/CopyProcesses.h"
#include "station/InProcessCopies.h"
#include "station/Station.h"

namespace {
// Opened once the station has ended and told its end; a console that closes waits for it.
class EndedLatch {
  public:
    void open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        opened_.notify_all();
    }
    void waitFor(std::chrono::milliseconds most) {
        std::unique_lock<std::mutex> lock(mutex_);
        opened_.wait_for(lock, most, [this] { return open_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

// What Windows allows a console program whose console closes (5 s), less a margin.
constexpr std::chrono::milliseconds kSessionEndGrace{4500};

// One instrument: its service tells its own steps; the station adds a further attempt, a
// refusal before any attempt, a record that could not be written, and what opening the
// report mended.
class OneUnitText : public StationListener {
  public:
    explicit OneUnitText(Reporter& out) : out_(out) {}
    void unitChanged(const Unit& unit, const CopyEvent* event) override {
        if (event != nullptr) {
            return;
        }
        if (unit.phase == Unit::Phase::Waiting) {
            out_.event(
                "attempt " + std::to_string(unit.attempt) + " failed; trying again in a second",
                eventJson(CopyEvent::retry(unit.attempt + 1)));
        } else if (unit.phase == Unit::Phase::Failed && unit.events.empty()) {
            out_.error(Problem(unit.code, unit.result, unit.hint));  // refused before a step
        }
    }
    void portPassed(const std::string&, const std::string&) override {}
    void stopping(size_t) override {}
    void problem(const Problem& problem) override { out_.error(problem); }
    void reportRepaired(const std::string& report, bool sealed, size_t recovered) override {
        ReportRepair repair;
        repair.sealed = sealed;
        repair.recovered = recovered;
        tellRepair(out_, report, repair);
    }

  private:
    Reporter& out_;
};

// Each line read (a scanner types a label and Enter) is the next instrument's label.
void readScannedLabels(Station& station, Reporter& out) {
    std::thread([&station, &out] {
        for (std::string label; readLabel(label);) {
            label = checkedText(label, "a label scanned");
            if (!label.empty()) {
                station.labelScanned(label);
                out.event("label " + label + ": for the next instrument plugged in",
                          {{"event", "label"}, {"label", label}});
            }
        }
    }).detach();
}
}  // namespace

int copyCommand(const CheckedRequest& checked, Reporter& out) {
    ignoreInterrupts();
    endWithStation();
    return serviceInstrument(checked.order(), checked.images, checked.request.ports[0], selfPath(),
                             out);
}

int stationCommand(const CheckedRequest& checked, Reporter& out) {
    const bool several = checked.request.several();
    std::optional<CopyProcesses> processes;
    std::optional<InProcessCopies> inProcess;
    CopyRunner& copies = several ? static_cast<CopyRunner&>(processes.emplace(selfPath()))
                                 : inProcess.emplace(checked.images, selfPath(), out);
    std::optional<SystemPorts> ports;
    if (checked.request.watch) {
        ports.emplace();
    }
    StationText text(out, outputIsTerminal(), checked.request.watch);
    OneUnitText oneUnit(out);
    Station station(checked, several ? static_cast<StationListener&>(text) : oneUnit, copies,
                    ports ? &*ports : nullptr);
    EndedLatch ended;
    std::atomic<bool> interrupted{false};
    // An interrupt (Ctrl-C, a hang-up, a polite kill) stops, a second abandons; one
    // instrument is abandoned at the first. The end of the console's session abandons at
    // once and waits until every record is written.
    onInterrupt([&station, &ended, &interrupted, several](bool sessionEnds) {
        interrupted.store(true);
        station.stop();
        if (sessionEnds || !several) {
            station.stop();
        }
        if (sessionEnds) {
            ended.waitFor(kSessionEndGrace);
        }
    });
    if (checked.request.watch) {
        out.event("watching for instruments; Ctrl-C ends", {{"event", "watching"}});
    }
    if (checked.request.watch && checked.request.labels) {
        readScannedLabels(station, out);
    }
    const int code = station.run();
    if (several) {
        text.summary(station);
    }
    ended.open();
    onInterrupt(nullptr);  // the station goes; an interrupt from now on ends the program
    if (!several && interrupted.load()) {
        endAsInterrupted();
    }
    return code;
}
