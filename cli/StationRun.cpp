// Several instruments at once, or every instrument plugged in: the station, with its
// copies of this program, told on the terminal, in a log or in JSON.
#include <condition_variable>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>

#include "cli/Commands.h"
#include "cli/Platform.h"
#include "cli/StationText.h"
#include "station/CopyProcesses.h"
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
}  // namespace

int stationCommand(const CheckedRequest& checked, Reporter& out) {
    CopyProcesses copies(selfPath());
    std::optional<SystemPorts> ports;
    if (checked.request.watch) {
        ports.emplace();
    }
    StationText text(out, outputIsTerminal(), checked.request.watch);
    Station station(checked, text, copies, ports ? &*ports : nullptr);
    EndedLatch ended;
    // An interrupt (Ctrl-C, a hang-up, a polite kill) stops, a second abandons; the end of
    // the console's session abandons at once and waits until every record is written.
    onInterrupt([&station, &ended](bool sessionEnds) {
        station.stop();
        if (sessionEnds) {
            station.stop();
            ended.waitFor(kSessionEndGrace);
        }
    });
    if (checked.request.watch) {
        out.event("watching for instruments; Ctrl-C ends", {{"event", "watching"}});
    }
    if (checked.request.watch && checked.request.labels) {
        // Each line read (a scanner types a label and Enter) is the next instrument's label.
        std::thread([&station, &out, asking = inputIsTerminal()] {
            for (std::string label; std::getline(std::cin, label);) {
                while (!label.empty() && (label.back() == '\r' || label.back() == ' ')) {
                    label.pop_back();
                }
                if (!label.empty()) {
                    station.labelScanned(label);
                    out.event("label " + label + ": for the next instrument plugged in",
                              {{"event", "label"}, {"label", label}});
                }
            }
            (void)asking;
        }).detach();
    }
    const int code = station.run();
    text.summary(station);
    ended.open();
    onInterrupt(nullptr);  // the station goes; an interrupt from now on ends the program
    return code;
}
