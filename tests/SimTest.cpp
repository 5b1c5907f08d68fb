// The virtual instrument driven with the frame codec over a real pseudo-terminal: its
// answer codes, its check of a finished upload, its routing, and its service of a terminal
// it did not make.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "engine/Crc16.h"
#include "link/FrameLink.h"
#include "link/SerialPort.h"
#include "sim/VirtualInstrument.h"
#include "support/LittleEndian.h"
#include "tests/TestSupport.h"

namespace {
using Bytes = std::vector<uint8_t>;

// Code 0x10, length, CRC-16/ARC and time of a finishing request.
Bytes finish(uint32_t length, uint16_t crc, uint32_t time) {
    Bytes f(11, 0x10);
    putLe32(f.data() + 1, length);
    putLe16(f.data() + 5, crc);
    putLe32(f.data() + 7, time);
    return f;
}
}  // namespace

TEST(VirtualInstrument, AnswerCodesTheFinishCheckAndTheRoutes) {
    VirtualInstrument sim(SimConfig{});
    sim.addChild("2", SimConfig{});
    sim.start();
    SerialPort port;
    port.open(sim.devicePath(), "115200,N,8,1", 0);
    FrameLink link([&](const uint8_t* d, uint16_t n) { return port.write(d, n, 0); },
                   [&](uint8_t* d, uint16_t n) { return port.read(d, n, 0); });
    link.timeout = 300;
    const Bytes page0 = concat({{0, 0}, Bytes(128, 0x5C)}),
                page1 = concat({{1, 0}, Bytes(128, 0x5C)});
    const Bytes header = makeFirmwareImage(developmentKey(1), Bytes(), ImageSpec{});
    const uint16_t crc200 = crc16ArcUpdate(0, Bytes(200, 0x5C).data(), 200);
    const uint16_t crc300 = crc16ArcUpdate(0, Bytes(300, 0x5C).data(), 300);
    // Code, payload, answer code (0: none), route.
    const std::tuple<uint16_t, Bytes, uint16_t, uint32_t> kRequests[] = {
        {100, {}, 200, 0},
        {100, {}, 200, 0x0A},       // the child on port 2
        {100, {}, 0, 0x03},         // not a hop nibble
        {110, page1, 401, 0},       // no upload begun
        {109, Bytes(12), 400, 0},   // malformed
        {109, Bytes(128), 252, 0},  // a header no key opens
        {109, header, 200, 0},
        {110, page1, 200, 0},
        {110, page0, 200, 0},
        {101, finish(200, crc200 ^ 1, 0), 403, 0},
        {101, finish(300, crc300, 0), 403, 0},  // page 2 never came
        {101, finish(200, crc200, 1234567), 200, 0},
        {103, {1, 0}, 200, 0},
    };
    for (const auto& [code, payload, answer, route] : kRequests) {
        uint8_t buffer[kMessageBufferSize + 256] = {};
        std::copy(payload.begin(), payload.end(), buffer + 12);
        const int32_t size =
            link.sendReceive(route, code, buffer, static_cast<uint16_t>(payload.size()));
        EXPECT_EQ(size < 0 ? 0 : getLe16(buffer + 8), answer) << "request " << code;
        if (code == 103) {
            EXPECT_EQ(Bytes(buffer + 12, buffer + size), page1);
        }
    }
    EXPECT_EQ(std::make_tuple(sim.status().firmwareSize, sim.status().firmwareTime,
                              sim.status().firmwareLoaded()),
              std::make_tuple(200u, 1234567, true));
    EXPECT_EQ(messageOf([] { parseSimFault("melt"); }), "unknown fault 'melt'");
    EXPECT_EQ(messageOf([] { parseSimFault("late:delay"); }),
              "fault option 'delay' needs a number: late:delay");
}

namespace {
// A pseudo-terminal whose far side is reached through `link`; the host end is returned.
int plugLine(const std::string& link) {
    int host = -1, far = -1;
    char name[256] = {};
    EXPECT_EQ(::openpty(&host, &far, name, nullptr, nullptr), 0);
    termios raw{};  // no echo of a request sent before the instrument has taken the line
    ::tcgetattr(far, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(far, TCSANOW, &raw);
    ::close(far);
    ::fcntl(host, F_SETFL, O_NONBLOCK);  // a host end without its far side would block a read
    ::unlink(link.c_str());
    EXPECT_EQ(::symlink(name, link.c_str()), 0);
    return host;
}

// The line goes away as a device does: its name first. A name left behind would point at
// a freed terminal number, which the next pseudo-terminal anywhere on the machine takes (a
// test running beside this one), and the instrument would open that terminal.
void unplugLine(const std::string& link, int host) {
    ::unlink(link.c_str());
    ::close(host);
}

// Until the instrument has read `count` bytes more than `before`. (The terminal's input
// queue is no witness: written bytes reach it only once the kernel's worker has moved them.)
void waitUntilRead(const VirtualInstrument& sim, uint64_t before, uint64_t count) {
    for (int i = 0; i < 500 && sim.bytesRead() < before + count; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// The bytes that come back on the host end within three seconds (a loaded machine): an
// answer's frame has 44.
Bytes readAnswer(int host) {
    Bytes answer;
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
         answer.size() < 44 && std::chrono::steady_clock::now() < end;) {
        pollfd pfd{host, POLLIN, 0};
        uint8_t chunk[64];
        const ssize_t n = ::poll(&pfd, 1, 50) > 0 ? ::read(host, chunk, sizeof chunk) : 0;
        answer.insert(answer.end(), chunk, chunk + std::max<ssize_t>(n, 0));
    }
    return answer;
}

// The status request on the host end, then its answer.
Bytes askStatus(int host) {
    const Bytes& request = kStatusRequestFrame;
    EXPECT_EQ(::write(host, request.data(), request.size()), static_cast<ssize_t>(request.size()));
    return readAnswer(host);
}
}  // namespace

// Served on an existing terminal, the instrument answers; a frame whose bytes stop after 64
// of its 154 is dropped once the line was quiet for 100 ms, not joined to the next request;
// bytes the instrument finds waiting when it wakes late continue their frame; when the line goes
// away (its host end closed) and another comes back under the same name, it answers there.
TEST(VirtualInstrument, ServesAnExistingTerminalDropsACutFrameAndWaitsForItsReturn) {
    TempDir dir;
    const std::string link = dir.path("line");
    int host = plugLine(link);
    VirtualInstrument sim(SimConfig{}, link);
    sim.start();
    Bytes page(142, 0x5C);
    putLe16(page.data() + 8, 110);
    putLe16(page.data() + 10, 130);
    const Bytes whole = encodeFrame(page), cut(whole.begin(), whole.begin() + 64);
    EXPECT_EQ(askStatus(host).size(), 44u);
    // The cut frame alone, and right behind a whole request (read with it, in one go).
    for (const Bytes& sent : {cut, concat({kStatusRequestFrame, cut})}) {
        const uint64_t before = sim.bytesRead();
        EXPECT_EQ(::write(host, sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
        waitUntilRead(sim, before, sent.size());
        if (sent.size() > cut.size()) {
            EXPECT_EQ(readAnswer(host).size(), 44u) << "the request before the cut frame";
        }
        const uint64_t cutBefore = sim.framesCut();
        for (int i = 0; i < 300 && sim.framesCut() == cutBefore; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(sim.framesCut(), cutBefore + 1) << "the cut frame was not dropped";
        EXPECT_EQ(askStatus(host).size(), 44u)
            << sent.size() << " bytes sent: the cut frame swallowed the request";
    }
    unplugLine(link, host);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    host = plugLine(link);
    // A request sent before the instrument has the line again, or while it takes it, is
    // flushed with what was stale there: a host asks again.
    size_t answered = 0;
    for (int i = 0; i < 3 && answered != 44; ++i)
        answered = askStatus(host).size();
    EXPECT_EQ(answered, 44u) << "not served again after the line came back";
    unplugLine(link, host);
}

// An instrument that wakes late (a loaded machine) finds the rest of a frame waiting: that
// is no gap on the line, and the frame is answered. Its process is held stopped, between the
// frame's two halves, for longer than a gap that cuts.
TEST(VirtualInstrument, AFrameWhoseRestWaitsWhileTheInstrumentSleepsIsAnswered) {
    TempDir dir;
    const std::string link = dir.path("line");
    const int host = plugLine(link);
    const pid_t instrument = ::fork();
    if (instrument == 0) {
        VirtualInstrument sim(SimConfig{}, link);
        sim.start();
        ::pause();
        ::_exit(0);
    }
    struct Ender {  // on every way out: the instrument's process keeps the test's output open
        pid_t pid;
        ~Ender() {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    } ender{instrument};
    size_t answered = 0;  // a request before the instrument has the line is flushed with it
    for (int i = 0; i < 3 && answered != 44; ++i)
        answered = askStatus(host).size();
    ASSERT_EQ(answered, 44u) << "the instrument does not serve the line";
    const Bytes& whole = kStatusRequestFrame;
    ASSERT_EQ(::write(host, whole.data(), 10), 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ::kill(instrument, SIGSTOP);
    ASSERT_EQ(::write(host, whole.data() + 10, whole.size() - 10),
              static_cast<ssize_t>(whole.size() - 10));
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    ::kill(instrument, SIGCONT);
    EXPECT_EQ(readAnswer(host).size(), 44u) << "the frame was cut while the instrument slept";
    unplugLine(link, host);
}
