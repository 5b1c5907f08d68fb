// The serial line: a raw round trip over a pseudo-terminal pair, and whole uploads to the
// virtual instrument, paced as a 115200-baud UART and unpaced.
#include <benchmark/benchmark.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "engine/VantorBootloader.h"
#include "link/SerialPort.h"
#include "sim/VirtualInstrument.h"
#include "tools/ImageSigner.h"

namespace {
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

struct Done : VantorBootloaderEventListener {
    std::mutex m;
    std::condition_variable cv;
    bool finished = false;
    std::string error;
    void end(const std::string& e) {
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
    void OnUploadStarted(const char*, int32_t) override {}
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

// Upload of state.range(0) KiB, paced at state.range(1) baud (0: unpaced). Reports the
// ratio of the time taken to the line's own limit: every request and reply byte of the
// stop-and-wait exchange at 10 bits a byte.
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
    // Frame bytes of one exchange: 12 + message each way.
    const double lineBytes = pages * ((12 + 142) + (12 + 12 + 2)) + (12 + 140) + (12 + 12) +
                             (12 + 23) + (12 + 12) + (12 + 12) + (12 + 32);
    for (auto _ : state) {
        engine.UploadFirmware(path);
        done.wait();
        if (!done.error.empty()) {
            state.SkipWithError(done.error.c_str());
            break;
        }
    }
    state.counters["pages/s"] = benchmark::Counter(pages * static_cast<double>(state.iterations()),
                                                   benchmark::Counter::kIsRate);
    if (baud != 0) {
        state.counters["line_limit_s"] = lineBytes * 10.0 / baud;
    }
    engine.Disconnect();
    ::unlink(path);
}
BENCHMARK(Upload)
    ->Args({256, 115200})
    ->Args({256, 0})
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1);
}  // namespace

BENCHMARK_MAIN();
