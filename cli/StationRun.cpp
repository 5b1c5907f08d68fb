// Several instruments at once, or every instrument plugged in: the station, with its
// copies of this program, told on the terminal, in a log or in JSON.
#include <condition_variable>
#include <mutex>
#include <optional>

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

int stationCommand(const CliOptions& o, const CheckedRequest& checked, Reporter& out) {
    CopyProcesses copies(selfPath());
    std::optional<SystemPorts> ports;
    if (o.request.watch) {
        ports.emplace();
    }
    StationText text(out, outputIsTerminal(), o.request.watch);
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
    if (o.request.watch) {
        out.event("watching for instruments; Ctrl-C ends", {{"event", "watching"}});
    }
    const int code = station.run();
    text.summary(station);
    ended.open();
    return code;
}
