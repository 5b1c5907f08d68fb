// A line through a whole shift: one watching station servicing thousands of instruments
// (unpaced, a small image), its open files, threads and resident memory after the first
// hundred and at the end (the goal: within 5 %); and what putting each record on the disk
// costs (the goal: under 20 ms a record).
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sim/VirtualInstrument.h"
#include "records/Report.h"
#include "tools/ImageSigner.h"

extern char** environ;

namespace {
size_t entries(const std::string& folder) {
    size_t n = 0;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(dir))
            n += e->d_name[0] != '.';
        ::closedir(dir);
    }
    return n;
}

// Resident memory of a process, in KiB.
long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return -1;
}

// The ports of the report's lines written since `offset` (which moves on).
std::vector<std::string> newRecords(const std::string& report, std::streamoff& offset) {
    std::vector<std::string> ports;
    std::ifstream in(report);
    in.seekg(offset);
    for (std::string line; std::getline(in, line) && !in.eof();) {
        offset += static_cast<std::streamoff>(line.size() + 1);
        const size_t at = line.find("\"port\":\"");
        ports.push_back(at == std::string::npos ? "" : line.substr(at + 8, 5));
    }
    return ports;
}

struct Sample {
    size_t files = 0, threads = 0;
    long rss = 0;
};

// The station at rest: the least of a few looks, as one may catch it listing the ports.
Sample sample(pid_t pid) {
    const std::string proc = "/proc/" + std::to_string(pid);
    Sample least{SIZE_MAX, SIZE_MAX, residentKiB(pid)};
    for (int look = 0; look < 5; ++look) {
        least.files = std::min(least.files, entries(proc + "/fd"));
        least.threads = std::min(least.threads, entries(proc + "/task"));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return least;
}

struct Line {
    long done = 0;
    Sample early, late;  // after the first hundred, and at the end
    double seconds = 0;
};

// `total` instruments through the watching `station`, four plugged at a time, each pulled
// out once its record is written and a new one plugged into its socket.
Line serviceLine(pid_t station, const std::string& report, long total) {
    const std::vector<std::string> sockets = {"COM91", "COM92", "COM93", "COM94"};
    std::map<std::string, std::unique_ptr<VirtualInstrument>> plugged;
    const auto plug = [&](const std::string& socket) {
        plugged[socket] = std::make_unique<VirtualInstrument>(SimConfig{});
        plugged[socket]->registerAlias(socket);
        plugged[socket]->start();
    };
    for (const std::string& socket : sockets)
        plug(socket);
    std::streamoff offset = 0;
    long started = static_cast<long>(sockets.size());
    Line line;
    bool sampled = false;
    const auto begun = std::chrono::steady_clock::now();
    while (line.done < total &&
           std::chrono::steady_clock::now() - begun < std::chrono::minutes(30)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        for (const std::string& port : newRecords(report, offset)) {
            ++line.done;
            plugged.erase(port);  // pulled out
            // After the first hundred the line rests (nothing plugged) to be looked at.
            if (started < total && (sampled || started < 100)) {
                plug(port);
                ++started;
            }
        }
        if (!sampled && plugged.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            line.early = sample(station);
            sampled = true;
            for (const std::string& socket : sockets)
                plug(socket);
            started += static_cast<long>(sockets.size());
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    line.late = sample(station);
    line.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
    return line;
}

void putCounters(benchmark::State& state, const Line& line) {
    state.counters["instruments"] = static_cast<double>(line.done);
    state.counters["per_s"] = static_cast<double>(line.done) / line.seconds;
    state.counters["files_100"] = static_cast<double>(line.early.files);
    state.counters["files_end"] = static_cast<double>(line.late.files);
    state.counters["threads_100"] = static_cast<double>(line.early.threads);
    state.counters["threads_end"] = static_cast<double>(line.late.threads);
    state.counters["rss_100_kib"] = static_cast<double>(line.early.rss);
    state.counters["rss_end_kib"] = static_cast<double>(line.late.rss);
    state.counters["rss_growth_pct"] = 100.0 * static_cast<double>(line.late.rss - line.early.rss) /
                                       static_cast<double>(line.early.rss);
}

// range(0) instruments through one watch.
void WatchThroughAShift(benchmark::State& state) {
    char folder[] = "/tmp/ostra-shift-XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        state.SkipWithError("no scratch folder");
        return;
    }
    ::setenv("XDG_RUNTIME_DIR", folder, 1);
    const std::string image = std::string(folder) + "/fw.enc",
                      report = std::string(folder) + "/report.jsonl";
    const std::string key = std::string(OSTRA_SOURCE_DIR) + "/keys/development-only/product1.pem";
    writeFileBytes(image, makeFirmwareImage(key, std::vector<uint8_t>(1024, 0x5a), ImageSpec{}));
    const std::string command = std::string("exec ") + OSTRA_CLI +
                                " --watch --port COM91 --port COM92 --port COM93 --port COM94"
                                " --report " +
                                report + " upload " + image + " >/dev/null 2>&1";
    for (auto _ : state) {
        const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
        pid_t station = -1;
        ::posix_spawn(&station, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));  // watching by now
        const Line line = serviceLine(station, report, state.range(0));
        ::kill(station, SIGINT);
        ::waitpid(station, nullptr, 0);
        if (line.done < state.range(0)) {
            state.SkipWithError("instruments were left unserviced");
            break;
        }
        putCounters(state, line);
    }
    std::system(("rm -rf " + std::string(folder)).c_str());
    ::unsetenv("XDG_RUNTIME_DIR");
}
BENCHMARK(WatchThroughAShift)->Arg(5000)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

// One record appended as the station appends it and put on the disk: the time column is
// the cost of a record.
void RecordOnTheDisk(benchmark::State& state) {
    char folder[] = "/tmp/ostra-records-XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        state.SkipWithError("no scratch folder");
        return;
    }
    const std::string report = std::string(folder) + "/report.jsonl";
    const nlohmann::json record = {{"time", "2026-12-09T03:14:07Z"},
                                   {"port", "COM11"},
                                   {"result", "ok"},
                                   {"exit", 0},
                                   {"seconds", 4.125},
                                   {"padding", std::string(250, 'x')}};
    for (auto _ : state) {
        if (appendRecord(report, record)) {
            state.SkipWithError("the record was not written");
            break;
        }
    }
    std::system(("rm -rf " + std::string(folder)).c_str());
}
BENCHMARK(RecordOnTheDisk)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(500);
}  // namespace
