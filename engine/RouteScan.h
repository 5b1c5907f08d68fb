#pragma once
// A map of the instruments behind the one connected directly: a status request through
// each port 0 to 7 of every instrument found, hop after hop, until no new instrument
// answers or `depth` hops are done. The exchange takes any answer as the answer to the
// current request, so an answer that comes after its time-out would be credited to the
// next port tried: after a time-out the scan waits for the line to be quiet, and it lists
// an instrument only once a second request on its route has been answered too. Two answers
// that disagree on the device make the instrument doubtful, listed with both.
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "engine/VantorBootloader.h"

struct RoutedInstrument {
    std::string path;  // "2.5"; empty for the instrument connected directly
    StatusInfo status;
    bool doubtful = false;
    StatusInfo second;  // doubtful: the answer that disagreed
};

struct RouteScanEvents {
    // A hop starts: the ports it will try (8 behind each instrument found in the last).
    std::function<void(int hop, int ports)> hopStarted;
    // One more port tried, of all hops.
    std::function<void(int tried)> portTried;
    // An instrument found and confirmed (or found doubtful).
    std::function<void(const RoutedInstrument&)> found;
};

// How long the line must be quiet after a time-out before the next port is tried.
constexpr uint16_t kRouteQuietMs = 50;

// Scans behind the instrument `engine` is connected to, directly; `cancel` stops it
// between two ports. The instruments found, the direct one first, in path order. The
// connection is direct again at the end, with its status read anew. Throws Exception when
// the direct instrument stops answering.
std::vector<RoutedInstrument> scanRoutes(VantorBootloader& engine, int depth,
                                         const RouteScanEvents& events,
                                         const std::atomic<bool>& cancel);

// Path order: "2" before "2.5" before "5", by the numbers.
bool inPathOrder(const RoutedInstrument& a, const RoutedInstrument& b);
