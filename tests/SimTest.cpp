// The virtual instrument driven with the frame codec over a real pseudo-terminal.
#include <gtest/gtest.h>

#include "engine/Crc16.h"
#include "link/FrameLink.h"
#include "link/SerialPort.h"
#include "sim/VirtualInstrument.h"
#include "support/Exception.h"
#include "support/LittleEndian.h"
#include "tests/TestSupport.h"
#include "tools/ImageSigner.h"

namespace {
using Bytes = std::vector<uint8_t>;

struct Host {
    SerialPort port;
    FrameLink link{[this](const uint8_t* d, uint16_t n) { return port.write(d, n, 0); },
                   [this](uint8_t* d, uint16_t n) { return port.read(d, n, 0); }};
    explicit Host(const std::string& path) { port.open(path, "115200,N,8,1", 0); }
    // Reply code and payload of one exchange; code 0 for no reply.
    uint16_t ask(uint16_t code, const Bytes& payload, Bytes* reply = nullptr, uint32_t route = 0) {
        uint8_t buffer[kMessageBufferSize + 256] = {};
        std::copy(payload.begin(), payload.end(), buffer + 12);
        const int32_t size =
            link.sendReceive(route, code, buffer, static_cast<uint16_t>(payload.size()));
        if (size < 0)
            return 0;
        if (reply)
            reply->assign(buffer + 12, buffer + std::min<int32_t>(size, kMessageBufferSize));
        return getLe16(buffer + 8);
    }
};
}  // namespace

TEST(VirtualInstrument, ReplyLayoutsAndTheFinishCheck) {
    VirtualInstrument sim(SimConfig{});
    sim.start();
    Host host(sim.devicePath());
    Bytes reply;
    EXPECT_EQ(host.ask(BPROT_MSG_STATUSINFO, {}, &reply), 200);
    EXPECT_EQ(reply.size(), 20u);
    EXPECT_EQ(reply[18], 1);

    EXPECT_EQ(host.ask(BPROT_MSG_WRITE_PAGE, Bytes(130)), simcode::kNoUpload) << "no upload begun";
    EXPECT_EQ(host.ask(BPROT_MSG_WRITE_START, Bytes(12)), simcode::kMalformed);
    EXPECT_EQ(host.ask(BPROT_MSG_WRITE_START, Bytes(128)), kReplyIncompatible);
    const Bytes image = makeFirmwareImage(developmentKey(1), Bytes(), ImageSpec{});
    EXPECT_EQ(host.ask(BPROT_MSG_WRITE_START, Bytes(image.begin(), image.begin() + 128)), 200);
    Bytes page(130, 0x5C);
    page[0] = 1;
    page[1] = 0;
    EXPECT_EQ(host.ask(BPROT_MSG_WRITE_PAGE, page), 200);
    page[0] = 0;
    EXPECT_EQ(host.ask(BPROT_MSG_WRITE_PAGE, page), 200);

    // The finish check: length and CRC of what came, and no page missing.
    const auto finish = [](uint32_t length, uint16_t crc, uint32_t time) {
        Bytes f(11);
        f[0] = 0x10;
        putLe32(f.data() + 1, length);
        putLe16(f.data() + 5, crc);
        putLe32(f.data() + 7, time);
        return f;
    };
    const uint16_t crc200 = crc16ArcUpdate(0, Bytes(200, 0x5C).data(), 200);
    EXPECT_EQ(host.ask(BPROT_WRITE_FINISH_REQ, finish(200, crc200 ^ 1, 0)), simcode::kCheckFailed);
    EXPECT_EQ(host.ask(BPROT_WRITE_FINISH_REQ,
                       finish(300, crc16ArcUpdate(0, Bytes(300, 0x5C).data(), 300), 0)),
              simcode::kCheckFailed)
        << "page 2 never came";
    EXPECT_EQ(host.ask(BPROT_WRITE_FINISH_REQ, finish(200, crc200, 1234567)), 200);
    EXPECT_EQ(std::make_tuple(sim.status().firmwareSize, sim.status().firmwareTime,
                              sim.status().firmwareLoaded()),
              std::make_tuple(200u, 1234567, true));

    EXPECT_EQ(host.ask(BPROT_MSG_READ_PAGE, {1, 0}, &reply), 200);
    ASSERT_EQ(reply.size(), 130u);
    EXPECT_EQ(reply[0], 1);
    EXPECT_EQ(Bytes(reply.begin() + 2, reply.end()), Bytes(128, 0x5C));
}

TEST(VirtualInstrument, RoutesDownTheTreeAndStaysSilentWithoutAChild) {
    VirtualInstrument sim(SimConfig{});
    SimConfig leaf;
    leaf.deviceType = 4;
    sim.addChild("7.6.5.4.3.2.1.0", leaf);
    sim.start();
    Host host(sim.devicePath());
    Bytes reply;
    EXPECT_EQ(host.ask(BPROT_MSG_STATUSINFO, {}, &reply, 0x89ABCDEFu), 200);
    EXPECT_EQ(reply[18], 4);
    host.link.timeout = 300;
    EXPECT_EQ(host.ask(BPROT_MSG_STATUSINFO, {}, &reply, 0x0E), 0) << "no child on port 6";
    EXPECT_EQ(host.ask(BPROT_MSG_STATUSINFO, {}, &reply, 0x03), 0) << "not a hop nibble";
}

TEST(VirtualInstrument, FaultOptionsParse) {
    const SimFault f = parseSimFault("late:code=110:nth=3:delay=250");
    EXPECT_EQ(std::make_tuple(f.kind, f.code, f.nth, f.delayMs),
              std::make_tuple(SimFault::Kind::Late, 110, 3u, 250u));
    EXPECT_THROW(parseSimFault("melt"), Exception);
    EXPECT_THROW(parseSimFault("late:delay"), Exception);
}
