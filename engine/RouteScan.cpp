#include "engine/RouteScan.h"

#include <algorithm>
#include <optional>

#include "engine/RoutePath.h"
#include "support/Exception.h"

namespace {
// The longest a line may keep talking after a time-out before the scan goes on anyway.
constexpr uint16_t kDrainLimitMs = 2000;

// The status of the instrument at `path`, or nothing when none answers in time.
std::optional<StatusInfo> ask(VantorBootloader& engine, const std::string& path) {
    engine.SetRoutePath(path);
    try {
        return engine.RequestStatus();
    } catch (const Exception&) {
        engine.DrainLine(kRouteQuietMs, kDrainLimitMs);
        return std::nullopt;
    }
}

std::vector<int> numbers(const std::string& path) {
    std::vector<int> ports;
    for (size_t at = 0; at < path.size();) {
        const size_t dot = path.find('.', at);
        ports.push_back(std::stoi(path.substr(at, dot - at)));
        at = dot == std::string::npos ? path.size() : dot + 1;
    }
    return ports;
}
}  // namespace

bool inPathOrder(const RoutedInstrument& a, const RoutedInstrument& b) {
    return numbers(a.path) < numbers(b.path);
}

std::vector<RoutedInstrument> scanRoutes(VantorBootloader& engine, int depth,
                                         const RouteScanEvents& events,
                                         const std::atomic<bool>& cancel) {
    std::vector<RoutedInstrument> found = {{"", engine.Status(), false, {}}};
    std::vector<std::string> behind = {""};  // the instruments whose ports the next hop tries
    int tried = 0;
    for (int hop = 1; hop <= std::min(depth, kMaxRouteHops) && !behind.empty() && !cancel.load();
         ++hop) {
        if (events.hopStarted) {
            events.hopStarted(hop, static_cast<int>(behind.size()) * (kMaxRoutePort + 1));
        }
        std::vector<std::string> next;
        for (const std::string& parent : behind) {
            for (int port = 0; port <= kMaxRoutePort && !cancel.load(); ++port) {
                const std::string path =
                    (parent.empty() ? "" : parent + ".") + std::to_string(port);
                const std::optional<StatusInfo> first = ask(engine, path);
                const std::optional<StatusInfo> again =
                    first ? ask(engine, path) : std::optional<StatusInfo>();
                if (events.portTried) {
                    events.portTried(++tried);
                }
                if (!again) {
                    continue;  // silent, or a stray answer that was not repeated
                }
                RoutedInstrument instrument{path, *first, false, {}};
                instrument.doubtful = again->deviceType != first->deviceType;
                instrument.second = *again;
                if (!instrument.doubtful) {
                    next.push_back(path);  // a doubtful one is not looked behind
                }
                found.push_back(instrument);
                if (events.found) {
                    events.found(instrument);
                }
            }
        }
        behind = next;
    }
    engine.ClearRoute();
    engine.DrainLine(kRouteQuietMs, kDrainLimitMs);
    engine.RequestStatus();
    std::sort(found.begin() + 1, found.end(), inPathOrder);
    return found;
}
