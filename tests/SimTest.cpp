// The virtual instrument driven with the frame codec over a real pseudo-terminal: its
// answer codes, its check of a finished upload, and its routing.
#include <gtest/gtest.h>

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
