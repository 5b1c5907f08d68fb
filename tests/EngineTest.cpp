#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "engine/VantorBootloader.h"
#include "link/PortNames.h"
#include "link/SerialPort.h"
#include "sim/VirtualInstrument.h"
#include "support/Exception.h"
#include "support/LittleEndian.h"
#include "tests/TestSupport.h"

namespace {
using Clock = std::chrono::steady_clock;

SimConfig instrument(uint8_t type) {
    SimConfig c;
    c.deviceType = type;
    c.bootloaderMajor = 3;
    c.bootloaderMinor = 10;
    c.firmwareMajor = 2;
    c.firmwareMinor = 1;
    return c;
}

class EngineTest : public ::testing::Test {
  protected:
    EngineTest() : sim(instrument(1)), engine(&listener) { sim.start(); }
    MessageHeader lastRequest() const {
        return MessageHeader::decode(sim.requests().back().data());
    }

    VirtualInstrument sim;
    RecordingListener listener;
    VantorBootloader engine;
};
}  // namespace

TEST_F(EngineTest, ConnectReadsAndDecodesTheStatus) {
    engine.Connect(sim.devicePath());
    EXPECT_TRUE(engine.IsConnected());
    const StatusInfo& s = engine.Status();
    EXPECT_EQ(s.deviceType, 1);
    EXPECT_EQ(s.bootloaderMajor, 3);
    EXPECT_EQ(s.bootloaderMinor, 10);
    EXPECT_EQ(s.areaSize, 512u * 1024u);
    EXPECT_FALSE(engine.IsFirmwareLoaded());
    EXPECT_EQ(listener.events(), std::vector<std::string>{"Connected"});
    EXPECT_EQ(lastRequest().route, 0u);
    EXPECT_EQ(lastRequest().code, BPROT_MSG_STATUSINFO);

    engine.Connect(sim.devicePath());
    EXPECT_EQ(listener.events(),
              (std::vector<std::string>{"Connected", "Disconnected", "Connected"}));
    engine.Disconnect();
    engine.Disconnect();
    EXPECT_EQ(listener.events().size(), 4u) << "disconnecting when not connected raises nothing";
    EXPECT_EQ(messageOf([&] { engine.SetRoutePath("1"); }),
              "Bootloader is not connected to any device");
}

TEST_F(EngineTest, PortWithoutBootloaderFailsAfterTheLinkTimeOut) {
    sim.setInBootloader(false);
    const auto start = Clock::now();
    EXPECT_EQ(messageOf([&] { engine.Connect(sim.devicePath()); }),
              "BPROT_MSG_STATUSINFO error, bootloader not responding");
    const long ms = msSince(start);
    EXPECT_GE(ms, 990);
    EXPECT_LT(ms, 3500);
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
    engine.SetRoutePath("2.5");
    EXPECT_TRUE(engine.IsRouted());
    EXPECT_EQ(engine.RequestStatus().deviceType, 3);
    EXPECT_EQ(lastRequest().route, 0xDAu);
    engine.SetRoutePath("2");
    EXPECT_EQ(engine.RequestStatus().deviceType, 5);
    engine.SetRoutePath("1.2.3.4.5.6.7.0");
    EXPECT_EQ(engine.RequestStatus().deviceType, 4);
    EXPECT_EQ(lastRequest().route, 0x8FEDCBA9u);

    engine.SetRoutePath("4");  // nobody on port 4
    const StatusInfo before = engine.Status();
    EXPECT_EQ(messageOf([&] { engine.RequestStatus(); }),
              "BPROT_MSG_STATUSINFO error, bootloader not responding");
    EXPECT_EQ(engine.Status().deviceType, before.deviceType)
        << "a failed request keeps the old status";
    engine.ClearRoute();
    EXPECT_FALSE(engine.IsRouted());
    EXPECT_EQ(engine.RequestStatus().deviceType, 1);

    engine.SetRoutePath("2");
    engine.Connect(sim.devicePath());
    EXPECT_FALSE(engine.IsRouted()) << "a new connection is direct";
}

TEST_F(EngineTest, RunFirmwareLeavesTheBootloader) {
    engine.Connect(sim.devicePath());
    engine.RunFirmware();
    EXPECT_EQ(lastRequest().code, BPROT_MSG_RUNFW);
    EXPECT_TRUE(engine.IsConnected()) << "the caller disconnects";
    EXPECT_EQ(messageOf([&] { engine.RunFirmware(); }),
              "BPROT_MSG_RUNFW - sendreceive packet failed");
}

TEST_F(EngineTest, FailingWorkItemGivesOneErrorWithTheEngineIdle) {
    engine.Connect(sim.devicePath());
    std::vector<bool> busyInside;
    listener.onEvent = [&](const std::string& e) {
        if (e.rfind("Error", 0) == 0)
            busyInside.push_back(engine.IsBusy());
    };
    engine.UploadFirmware("/no/such/image.enc");
    ASSERT_TRUE(listener.waitForEnd());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(listener.events(),
              (std::vector<std::string>{"Connected", "Error can't open file /no/such/image.enc"}));
    EXPECT_EQ(busyInside, std::vector<bool>{false});

    listener.clear();
    engine.startWorkForTest(9);
    engine.stop(true, 5000);
    EXPECT_FALSE(engine.IsBusy());
    EXPECT_TRUE(listener.events().empty()) << "an unknown work code runs nothing";

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

TEST_F(EngineTest, ComNamesReachAnInstrumentThroughItsAlias) {
    const std::string name = "COM" + std::to_string(100 + ::getpid() % 800);
    sim.registerAlias(name);
    EXPECT_NE(resolvePortName(name).find("/ostraloader"), std::string::npos);
    engine.Connect(name);
    EXPECT_TRUE(engine.IsConnected());
}
