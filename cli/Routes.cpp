#include "cli/Routes.h"

#include <algorithm>
#include <atomic>
#include <chrono>

#include "cli/Platform.h"
#include "engine/RouteScan.h"
#include "station/PortIdentity.h"
#include "station/Protocol.h"
#include "support/Exception.h"
#include "support/Problem.h"

namespace {
// One line of the tree: indented by its hops, its path (the port for the direct one).
std::string treeLine(const RoutedInstrument& i, const std::string& port) {
    const size_t hops = i.path.empty() ? 0 : std::count(i.path.begin(), i.path.end(), '.') + 1;
    std::string line = pad(std::string(2 * hops, ' ') + (i.path.empty() ? port : i.path), 20) +
                       statusLine(i.status, 11);
    if (i.doubtful) {
        line += "  (doubtful: a second answer was " +
                std::string(deviceStatusName(i.second.deviceType)) + ")";
    }
    return line;
}

nlohmann::json instrumentJson(const RoutedInstrument& i) {
    nlohmann::json j = statusFields(i.status);
    j["event"] = "instrument";
    j["route"] = i.path;
    j["doubtful"] = i.doubtful;
    if (i.doubtful) {
        j["second"] = statusFields(i.second);
    }
    return j;
}
}  // namespace

int routesCommand(const CliOptions& o, Reporter& out) {
    const StationRequest& r = o.request;
    if (!r.route.empty() || r.ports.size() != 1 || r.watch) {
        throw Problem(kUsage,
                      "routes starts from the one instrument on the port, connected directly: "
                      "name one --port, without --route or --watch");
    }
    NoWorkListener quiet;
    VantorBootloader engine(&quiet);
    const std::string& port = r.ports[0];
    const PortInfo resolved = resolvePortIdentity(port, selfPath());
    engine.Connect(resolved.name);
    const std::string where = resolved.name == port ? port : port + " (" + resolved.name + ")";
    out.event("Connected to " + where,
              eventJson(CopyEvent::connected(port, resolved.device, resolved.serial, "")));
    // The first Ctrl-C stops the scan and shows what it found; a second ends the program.
    std::atomic<bool> cancel{false};
    onInterrupt([&cancel](bool) {
        if (cancel.exchange(true)) {
            endAsInterrupted();
        }
    });
    int total = 0;
    const auto start = std::chrono::steady_clock::now();
    RouteScanEvents events;
    events.hopStarted = [&](int hop, int ports) {
        total += ports;
        const std::string behind = hop == 1 ? "of " + where
                                            : "behind " + std::to_string(ports / 8) +
                                                  " instrument" + (ports > 8 ? "s" : "");
        out.event("Trying the " + std::to_string(ports) + " ports " + behind + ": about " +
                      std::to_string(ports) + " s (a port where nothing answers takes a second)",
                  {{"event", "hop"}, {"hop", hop}, {"ports", ports}});
    };
    events.portTried = [&](int tried) {
        out.status(std::to_string(tried) + " of " + std::to_string(total) + " ports tried");
    };
    const std::vector<RoutedInstrument> found = scanRoutes(engine, o.depth, events, cancel);
    engine.Disconnect();
    out.endLine();
    std::string tree;
    for (const RoutedInstrument& instrument : found) {
        tree += treeLine(instrument, port) + "\n";
        out.event("", instrumentJson(instrument));
    }
    char summary[128];
    std::snprintf(summary, sizeof summary, "%zu instrument%s (%s after %.1f s)", found.size(),
                  found.size() == 1 ? "" : "s",
                  cancel.load() ? "scan stopped by Ctrl-C" : "scan complete",
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    out.event(tree + summary, {{"event", "scanned"}, {"complete", !cancel.load()}});
    if (cancel.load()) {
        out.result({{"event", "result"}, {"ok", false}, {"interrupted", true}});
        endAsInterrupted();
    }
    return kOk;
}
