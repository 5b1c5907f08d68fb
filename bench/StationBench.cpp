// A production line's station: the command line uploading to four paced instruments at
// once, against the same upload to one. The copies run side by side, so four should take
// little longer than one (the goal: at most 1.2 times). And how soon a watching station
// finds an instrument plugged in.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sim/VirtualInstrument.h"
#include "tools/ImageSigner.h"

namespace {
// Seconds the command line takes to upload `image` to instruments COM31.. COM(30+count).
double stationSeconds(int count, const std::string& image) {
    std::string command = OSTRA_CLI;
    for (int i = 1; i <= count; ++i)
        command += " --port COM" + std::to_string(30 + i);
    command += " upload " + image + " >/dev/null 2>&1";
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return status == 0 ? seconds : -1;
}

// range(0) KiB to one instrument, then to four at once, all paced at 115200 baud.
void StationOfFour(benchmark::State& state) {
    char folder[] = "/tmp/ostra-station-XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        state.SkipWithError("no scratch folder");
        return;
    }
    ::setenv("XDG_RUNTIME_DIR", folder, 1);  // the instruments' COM aliases stay private
    std::vector<uint8_t> body(static_cast<size_t>(state.range(0)) * 1024);
    std::mt19937 rng(7);
    for (auto& b : body)
        b = static_cast<uint8_t>(rng());
    const std::string key = std::string(OSTRA_SOURCE_DIR) + "/keys/development-only/product1.pem";
    const std::string image = std::string(folder) + "/fw.enc";
    writeFileBytes(image, makeFirmwareImage(key, body, ImageSpec{}));
    std::vector<std::unique_ptr<VirtualInstrument>> tray;
    for (int i = 1; i <= 4; ++i) {
        tray.push_back(std::make_unique<VirtualInstrument>(SimConfig{}));
        tray.back()->setBaud(115200);
        tray.back()->registerAlias("COM" + std::to_string(30 + i));
        tray.back()->start();
    }
    double one = 0, four = 0;
    for (auto _ : state) {
        const double a = stationSeconds(1, image), b = stationSeconds(4, image);
        if (a < 0 || b < 0) {
            state.SkipWithError("an upload failed");
            break;
        }
        one += a;
        four += b;
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["one_s"] = one / runs;
    state.counters["four_s"] = four / runs;
    state.counters["ratio"] = four / one;
    tray.clear();
    ::unlink(image.c_str());
    ::rmdir((std::string(folder) + "/ostraloader/ports").c_str());
    ::rmdir((std::string(folder) + "/ostraloader").c_str());
    ::rmdir(folder);
    ::unsetenv("XDG_RUNTIME_DIR");
}
BENCHMARK(StationOfFour)->Arg(32)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);

// An unattended line: the time from an instrument appearing (its COM name registered) to
// the first request the watching command line sends it. The goal: under a second.
void WatchFindsAnInstrument(benchmark::State& state) {
    char folder[] = "/tmp/ostra-watch-XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        state.SkipWithError("no scratch folder");
        return;
    }
    ::setenv("XDG_RUNTIME_DIR", folder, 1);
    double total = 0, worst = 0;
    for (auto _ : state) {
        std::thread watcher([] {
            std::system(
                (std::string(OSTRA_CLI) + " --watch --count 1 status >/dev/null 2>&1").c_str());
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(500));  // watching by now
        VirtualInstrument sim{SimConfig{}};
        sim.start();
        const auto appeared = std::chrono::steady_clock::now();
        sim.registerAlias("COM40");
        while (sim.requestCount() == 0 &&
               std::chrono::steady_clock::now() - appeared < std::chrono::seconds(10))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - appeared).count();
        watcher.join();
        total += seconds;
        worst = std::max(worst, seconds);
    }
    state.counters["first_request_s"] = total / static_cast<double>(state.iterations());
    state.counters["worst_s"] = worst;
    ::unlink((std::string(folder) + "/ostraloader/ports/COM40").c_str());
    ::rmdir((std::string(folder) + "/ostraloader/ports").c_str());
    ::rmdir((std::string(folder) + "/ostraloader").c_str());
    ::rmdir(folder);
    ::unsetenv("XDG_RUNTIME_DIR");
}
BENCHMARK(WatchFindsAnInstrument)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
}  // namespace
