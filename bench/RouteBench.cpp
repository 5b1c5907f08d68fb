// Finding routed instruments: a scan's time against the ports it tried times the exchange's
// second, on a paced line. A silent port costs that second and the short quiet wait after
// it; an instrument found costs its two quick answers. The goal: at most 1.1 times the
// silent ports' seconds, plus the confirmations.
#include <benchmark/benchmark.h>

#include <chrono>

#include "engine/RouteScan.h"
#include "sim/VirtualInstrument.h"

namespace {
void RouteScanOfOneHop(benchmark::State& state) {
    SimConfig tamrik;
    tamrik.deviceType = 2;
    VirtualInstrument sim{SimConfig{}};
    sim.addChild("2", tamrik);
    sim.setBaud(115200);
    sim.start();
    NoWorkListener quiet;
    VantorBootloader engine(&quiet);
    engine.Connect(sim.devicePath());
    int tried = 0;
    size_t found = 0;
    double seconds = 0;
    for (auto _ : state) {
        RouteScanEvents events;
        events.portTried = [&](int n) { tried = n; };
        const auto start = std::chrono::steady_clock::now();
        found = scanRoutes(engine, 1, events, false).size() - 1;
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    const double runs = static_cast<double>(state.iterations());
    const double silent = static_cast<double>(tried) - static_cast<double>(found);
    state.counters["ports_tried"] = tried;
    state.counters["scan_s"] = seconds / runs;
    state.counters["ratio"] = seconds / runs / tried;          // to the ports tried x 1 s
    state.counters["silent_ratio"] = seconds / runs / silent;  // to the silent ports x 1 s
}
BENCHMARK(RouteScanOfOneHop)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);
}  // namespace
