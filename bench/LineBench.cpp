// The serial line and the engine: a raw round trip over a pseudo-terminal pair, whole
// uploads to the virtual instrument (paced as a 115200-baud UART, and unpaced), and the
// cost of waiting for an instrument that does not answer.
#include <benchmark/benchmark.h>
#include <pty.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "engine/VantorBootloader.h"
#include "link/SerialPort.h"
#include "sim/VirtualInstrument.h"
#include "support/Exception.h"
#include "tools/ImageSigner.h"

namespace {
double threadCpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void PortRoundTrip24(benchmark::State& state) {
    int master = -1, slave = -1;
    char name[256];
    openpty(&master, &slave, name, nullptr, nullptr);
    termios tio;
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    SerialPort port;
    port.open(name, "115200,N,8,1", 0);
    uint8_t out[24] = {0xAA, 0xAA}, in[24];
    for (auto _ : state) {
        port.write(out, 24, 0);
        size_t echoed = 0;
        while (echoed < 24) {
            const ssize_t n = ::read(master, in + echoed, 24 - echoed);
            if (n > 0)
                echoed += static_cast<size_t>(n);
        }
        (void)!::write(master, in, 24);
        uint32_t got = 0;
        while (got < 24)
            got += port.read(in + got, 24 - got, 0);
    }
    port.close();
    ::close(master);
    ::close(slave);
}
BENCHMARK(PortRoundTrip24)->UseRealTime();

// Waits for the end of a work item and measures the worker's CPU time for it.
struct Done : VantorBootloaderEventListener {
    std::mutex m;
    std::condition_variable cv;
    bool finished = false;
    std::string error;
    double cpuStart = 0;
    std::atomic<double> cpuSeconds{0};
    void end(const std::string& e) {
        cpuSeconds = threadCpuSeconds() - cpuStart;
        std::lock_guard<std::mutex> lock(m);
        finished = true;
        error = e;
        cv.notify_all();
    }
    void wait() {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return finished; });
        finished = false;
    }
    void OnConnected() override {}
    void OnDisconnected() override {}
    void OnUploadStarted(const char*, int32_t) override { cpuStart = threadCpuSeconds(); }
    void OnUploadProgress(int32_t) override {}
    void OnUploadFinished() override { end(""); }
    void OnReadStarted(const char*, int32_t, int32_t) override {}
    void OnReadProgress(int32_t) override {}
    void OnReadFinished() override { end(""); }
    void OnEraseStarted() override {}
    void OnEraseTick() override {}
    void OnEraseFinished() override { end(""); }
    void OnError(const char* message) override { end(message); }
};

// Upload of range(0) KiB, paced at range(1) baud (0: unpaced). Reports pages per second,
// the host's CPU time per page, and for a paced line the ratio of the time taken to the
// line's own limit: every frame byte that crossed it, at 10 bits a byte, stop and wait.
void Upload(benchmark::State& state) {
    const size_t bodySize = static_cast<size_t>(state.range(0)) * 1024;
    const uint32_t baud = static_cast<uint32_t>(state.range(1));
    std::vector<uint8_t> body(bodySize);
    std::mt19937 rng(5);
    for (auto& b : body)
        b = static_cast<uint8_t>(rng());
    const std::string key = std::string(OSTRA_SOURCE_DIR) + "/keys/development-only/product1.pem";
    std::vector<uint8_t> file = makeFirmwareImage(key, std::vector<uint8_t>(), ImageSpec{});
    file.insert(file.end(), body.begin(), body.end());
    char path[] = "/tmp/ostra-bench-XXXXXX";
    const int fd = mkstemp(path);
    (void)!::write(fd, file.data(), file.size());
    ::close(fd);

    SimConfig config;
    config.flashSize = static_cast<uint32_t>(bodySize + 4096);
    VirtualInstrument sim(config);
    sim.setBaud(baud);
    sim.start();
    Done done;
    VantorBootloader engine(&done);
    engine.Connect(sim.devicePath());
    const double pages = static_cast<double>((bodySize + 127) / 128);
    double wall = 0, cpu = 0, lineBytes = 0;
    for (auto _ : state) {
        const uint64_t bytesBefore = sim.lineBytes();
        const auto start = std::chrono::steady_clock::now();
        engine.UploadFirmware(path);
        done.wait();
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpu += done.cpuSeconds;
        lineBytes += static_cast<double>(sim.lineBytes() - bytesBefore);
        if (!done.error.empty()) {
            state.SkipWithError(done.error.c_str());
            break;
        }
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["pages/s"] = pages * runs / wall;
    state.counters["cpu_us/page"] = cpu / (pages * runs) * 1e6;
    if (baud != 0) {
        state.counters["line_limit_s"] = lineBytes / runs * 10.0 / baud;
        state.counters["ratio"] = wall / (lineBytes * 10.0 / baud);
    }
    engine.Disconnect();
    ::unlink(path);
}
BENCHMARK(Upload)
    ->Args({64, 115200})
    ->Args({256, 115200})
    ->Args({1024, 115200})
    ->Args({256, 0})
    ->Args({1024, 0})
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1);

// A status request to an instrument that does not answer: the share of one core the
// waiting thread uses for its 1000 ms.
void WaitForSilentInstrument(benchmark::State& state) {
    VirtualInstrument sim{SimConfig{}};
    sim.start();
    Done done;
    VantorBootloader engine(&done);
    engine.Connect(sim.devicePath());
    sim.setInBootloader(false);
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        const double cpuStart = threadCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        try {
            engine.RequestStatus();
        } catch (const Exception&) {
        }
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpu += threadCpuSeconds() - cpuStart;
    }
    state.counters["cpu_%"] = 100.0 * cpu / wall;
}
BENCHMARK(WaitForSilentInstrument)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
}  // namespace
