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
    SimConfig leaf;
    leaf.deviceType = 4;
    sim.addChild("7.6.5.4.3.2.1.0", leaf);
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
    const struct {
        uint16_t code;
        Bytes payload;
        uint16_t answer;  // 0: none
        uint32_t route = 0;
        uint8_t deviceType = 1;  // of a status answer
    } kRequests[] = {
        {100, {}, 200},
        {100, {}, 200, 0x89ABCDEFu, 4},  // eight hops down
        {100, {}, 0, 0x0E},              // no child on port 6
        {100, {}, 0, 0x03},              // not a hop nibble
        {110, page1, 401},               // no upload begun
        {109, Bytes(12), 400},           // malformed
        {109, Bytes(128), 252},          // a header no key opens
        {109, header, 200},
        {110, page1, 200},
        {110, page0, 200},
        {101, finish(200, crc200 ^ 1, 0), 403},
        {101, finish(300, crc300, 0), 403},  // page 2 never came
        {101, finish(200, crc200, 1234567), 200},
        {103, {1, 0}, 200},
    };
    for (const auto& r : kRequests) {
        uint8_t buffer[kMessageBufferSize + 256] = {};
        std::copy(r.payload.begin(), r.payload.end(), buffer + 12);
        const int32_t size =
            link.sendReceive(r.route, r.code, buffer, static_cast<uint16_t>(r.payload.size()));
        EXPECT_EQ(size < 0 ? 0 : getLe16(buffer + 8), r.answer) << "request " << r.code;
        if (r.code == 100 && size > 0) {
            EXPECT_EQ(std::make_pair(size, buffer[12 + 18]), std::make_pair(32, r.deviceType));
        }
        if (r.code == 103) {
            EXPECT_EQ(Bytes(buffer + 12, buffer + size), page1);
        }
    }
    EXPECT_EQ(std::make_tuple(sim.status().firmwareSize, sim.status().firmwareTime,
                              sim.status().firmwareLoaded()),
              std::make_tuple(200u, 1234567, true));
    const SimFault f = parseSimFault("late:code=110:nth=3:delay=250");
    EXPECT_EQ(std::make_tuple(f.kind, f.code, f.nth, f.delayMs),
              std::make_tuple(SimFault::Kind::Late, 110, 3u, 250u));
    EXPECT_EQ(messageOf([] { parseSimFault("melt"); }), "unknown fault 'melt'");
    EXPECT_EQ(messageOf([] { parseSimFault("late:delay"); }),
              "fault option 'delay' needs a number: late:delay");
}
