// The reports read back: `ostraloader-cli records` summarising a report of 10 000 and of
// 1 000 000 records (about 300 MB), its time (the goal: under 5 s for the million) and its
// peak resident memory, which should not grow with the report.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "support/UtcTime.h"

namespace {
// A report as a line of a shift writes it: four products, most instruments known by a USB
// serial number, one in eight tried again, one in twenty failing.
std::string report(long records) {
    const std::string path = "/tmp/ostra-records-bench-" + std::to_string(records) + ".jsonl";
    if (FILE* existing = std::fopen(path.c_str(), "rb")) {
        std::fclose(existing);
        return path;
    }
    FILE* out = std::fopen(path.c_str(), "wb");
    std::mt19937 rng(43);
    const char* const kProducts[] = {"SOLVAR CU", "TAMRIK", "SOLVAR HS", "TAMRIK 3"};
    const char* const kFailures[] = {"BPROT_MSG_STATUSINFO error, bootloader not responding",
                                     "BPROT_MSG_WRITE_PAGE error", "read data failed, err: 5"};
    int64_t time = 1796000000;
    for (long i = 0; i < records; ++i) {
        time += 1 + static_cast<int64_t>(rng() % 20);
        const bool failed = rng() % 20 == 0;
        const int port = 11 + static_cast<int>(rng() % 16);
        std::fprintf(
            out,
            "{\"attempt\":%d,\"bootloader\":\"1.2\",\"command\":\"upload\",\"device\":\"/dev/"
            "ttyUSB%d\",\"deviceType\":\"%s\",\"exit\":%d,\"firmwareAfter\":%s,"
            "\"firmwareBefore\":\"1.5\",\"image\":{\"build\":77,\"file\":\"/srv/line/images/"
            "fw-2.1.enc\",\"length\":65536,\"product\":\"Solvar CU\",\"sha256\":\"ae54c7d05968"
            "5ef598c29c62ab5a5d451b716dae51dcedbeda0c5e9364b1cffd\",\"version\":\"2.1\"},"
            "\"port\":\"COM%d\",\"result\":\"%s\",\"seconds\":%.3f,\"serial\":\"A%07ld\","
            "\"time\":\"%s\"}\n",
            1 + (rng() % 8 == 0), port - 11, kProducts[rng() % 4], failed ? 1 : 0,
            failed ? "null" : "\"2.1\"", port, failed ? kFailures[rng() % 3] : "ok",
            4.0 + (rng() % 1000) / 1000.0, i / 2, isoUtc(time).c_str());
    }
    std::fclose(out);
    return path;
}

}  // namespace

// The text of that report of `records` lines (RecordLineBench.cpp).
std::string benchReport(long records) {
    std::string text;
    FILE* in = std::fopen(report(records).c_str(), "rb");
    char chunk[1 << 16];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;)
        text.append(chunk, n);
    std::fclose(in);
    return text;
}

namespace {
// range(0) records summarised by the command line: seconds and its peak memory.
void RecordsSummarised(benchmark::State& state) {
    const std::string path = report(state.range(0));
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const pid_t child = ::fork();
        if (child == 0) {
            std::freopen("/dev/null", "w", stdout);
            ::execl(OSTRA_CLI, OSTRA_CLI, "records", path.c_str(), nullptr);
            ::_exit(127);
        }
        int status = 0;
        rusage usage{};
        ::wait4(child, &status, 0, &usage);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("records failed");
            break;
        }
        state.SetIterationTime(seconds);
        state.counters["peak_rss_kib"] = static_cast<double>(usage.ru_maxrss);
        FILE* f = std::fopen(path.c_str(), "rb");
        std::fseek(f, 0, SEEK_END);
        state.counters["mb_per_s"] = static_cast<double>(std::ftell(f)) / 1e6 / seconds;
        std::fclose(f);
    }
}
BENCHMARK(RecordsSummarised)
    ->Arg(10000)
    ->Arg(1000000)
    ->Unit(benchmark::kSecond)
    ->UseManualTime()
    ->Iterations(1);
}  // namespace
