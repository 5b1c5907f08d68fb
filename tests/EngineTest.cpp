// The engine's short operations on the caller's thread, and its worker's failures.
#include <gtest/gtest.h>

#include "engine/VantorBootloader.h"
#include "sim/VirtualInstrument.h"
#include "support/LittleEndian.h"
#include "support/TickClock.h"
#include "tests/TestSupport.h"

namespace {
using Events = std::vector<std::string>;
const char* const kStatusFailed = "BPROT_MSG_STATUSINFO error, bootloader not responding";

SimConfig instrument(uint8_t type) {
    SimConfig c;
    c.deviceType = type;
    c.bootloaderMajor = 3;
    c.bootloaderMinor = 10;
    return c;
}

class EngineTest : public ::testing::Test {
  protected:
    EngineTest() : sim(instrument(1)), engine(&listener) { sim.start(); }
    // Route word and code of the last request the instrument received.
    std::pair<uint32_t, uint16_t> lastRequest() const {
        const std::vector<uint8_t> r = sim.requests().back();
        return {getLe32(r.data() + 4), getLe16(r.data() + 8)};
    }

    VirtualInstrument sim;
    RecordingListener listener;
    VantorBootloader engine;
};
}  // namespace

TEST_F(EngineTest, ConnectReadsTheStatusReconnectingDisconnectsFirstAndRunLeavesTheBootloader) {
    EXPECT_EQ(messageOf([&] { engine.SetRoutePath("1"); }),
              "Bootloader is not connected to any device");
    engine.Connect(sim.devicePath());
    const StatusInfo& s = engine.Status();
    EXPECT_EQ(std::make_tuple(s.deviceType, s.bootloaderMajor, s.bootloaderMinor, s.areaSize),
              std::make_tuple(1, 3, 10, 512u * 1024u));
    EXPECT_FALSE(engine.IsFirmwareLoaded());
    EXPECT_EQ(lastRequest(), std::make_pair(0u, uint16_t{100}));
    engine.Connect(sim.devicePath());
    engine.RunFirmware();
    EXPECT_EQ(lastRequest().second, 105);
    EXPECT_TRUE(engine.IsConnected()) << "the caller disconnects";
    EXPECT_EQ(messageOf([&] { engine.RunFirmware(); }),
              "BPROT_MSG_RUNFW - sendreceive packet failed");
    engine.Disconnect();
    engine.Disconnect();
    EXPECT_EQ(listener.events(),
              (Events{"Connected", "Disconnected", "Connected", "Disconnected"}));
}

TEST_F(EngineTest, SilentPortFailsAfterOneSecondAndIsReleased) {
    FastClock clock(10);
    sim.setInBootloader(false);
    const uint32_t start = tickCount();
    EXPECT_EQ(messageOf([&] { engine.Connect(sim.devicePath()); }), kStatusFailed);
    EXPECT_GE(tickCount() - start, 1000u);
    EXPECT_LT(tickCount() - start, 1900u);
    EXPECT_FALSE(engine.IsConnected());
    EXPECT_TRUE(listener.events().empty());
    SerialPort other;
    other.open(sim.devicePath(), "115200,N,8,1", 0);  // the engine closed the port again
    EXPECT_EQ(messageOf([&] { engine.Connect("/dev/no-such-port"); }),
              "open port '/dev/no-such-port' failed");
}

TEST_F(EngineTest, RoutedRequestsReachTheRightChild) {
    sim.addChild("2", instrument(5));
    sim.addChild("2.5", instrument(3));
    sim.addChild("1.2.3.4.5.6.7.0", instrument(4));
    engine.Connect(sim.devicePath());
    const struct {
        const char* path;
        uint32_t word;
        uint8_t deviceType;
    } kRoutes[] = {{"2.5", 0xDA, 3}, {"2", 0x0A, 5}, {"1.2.3.4.5.6.7.0", 0x8FEDCBA9u, 4}};
    for (const auto& r : kRoutes) {
        engine.SetRoutePath(r.path);
        EXPECT_EQ(engine.RequestStatus().deviceType, r.deviceType) << r.path;
        EXPECT_EQ(lastRequest(), std::make_pair(r.word, uint16_t{100})) << r.path;
    }
    engine.SetRoutePath("4");  // nobody on port 4
    EXPECT_EQ(messageOf([&] { engine.RequestStatus(); }), kStatusFailed);
    EXPECT_EQ(engine.Status().deviceType, 4) << "a failed request keeps the old status";
    engine.ClearRoute();
    EXPECT_EQ(engine.RequestStatus().deviceType, 1);
    engine.SetRoutePath("2");
    engine.Connect(sim.devicePath());
    EXPECT_FALSE(engine.IsRouted()) << "a new connection is direct";
}

TEST_F(EngineTest, FailingWorkItemGivesOneErrorWithTheEngineIdle) {
    engine.Connect(sim.devicePath());
    listener.clear();
    std::vector<bool> busyInside;
    listener.onEvent = [&](const std::string&) { busyInside.push_back(engine.IsBusy()); };
    engine.UploadFirmware("/no/such/image.enc");
    engine.stop(true, 5000);
    EXPECT_EQ(listener.events(), Events{"Error can't open file /no/such/image.enc"});
    EXPECT_EQ(busyInside, std::vector<bool>{false});

    engine.startWorkForTest(9);
    engine.stop(true, 5000);
    EXPECT_FALSE(engine.IsBusy());
    EXPECT_EQ(listener.events().size(), 1u) << "an unknown work code runs nothing";

    // A listener that throws anything, then an error handler that throws too: the process
    // lives on, one error is reported and the engine is idle.
    std::vector<std::string> errors;
    listener.onEvent = [&](const std::string& e) {
        if (e == "EraseStarted")
            throw 42;
        if (e.rfind("Error", 0) == 0) {
            errors.push_back(e);
            throw std::runtime_error("handler failed");
        }
    };
    engine.EraseFlash();
    engine.stop(true, 5000);
    EXPECT_EQ(errors, std::vector<std::string>{"Error unexpected failure in the worker"});
    EXPECT_FALSE(engine.IsBusy());
}
