// The Win32 serial port on a COM port that stands for a virtual instrument's terminal
// (OSTRA_TEST_PORT, e.g. COM3; scripts/test-windows maps it under Wine). Without that
// variable the test is skipped.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "link/FrameLink.h"
#include "link/SerialPort.h"
#include "support/Exception.h"
#include "support/LittleEndian.h"
#include "tests/TestHelpers.h"

TEST(WinSerialPort, ConfiguresExchangesPurgesOnOpenAndReadsTimeOut) {
    const char* testPort = std::getenv("OSTRA_TEST_PORT");
    if (testPort == nullptr)
        GTEST_SKIP() << "OSTRA_TEST_PORT names no COM port";
    SerialPort port;
    EXPECT_EQ(messageOf([&] { port.open("COM99", "115200,N,8,1", 0); }),
              "open port 'COM99' failed");
    port.open(testPort, "9600,e,7,2", 0);
    port.configure("115200,N,8,1");
    FrameLink link([&](const uint8_t* d, uint16_t n) { return port.write(d, n, 0); },
                   [&](uint8_t* d, uint16_t n) { return port.read(d, n, 0); });
    uint8_t buffer[kMessageBufferSize] = {};
    ASSERT_EQ(link.sendReceive(0, 100, buffer, 0), 32);
    EXPECT_EQ(getLe16(buffer + 8), 200);

    // A reply that arrives but is not read is gone once the port is opened again; then a
    // read of 4 bytes from the silent line waits about 2 ms a byte.
    EXPECT_EQ(port.write(kStatusRequestFrame.data(), 24, 0), 24u);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    port.open(testPort, "115200,N,8,1", 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.read(buffer, 4, 0), 0u);
    const long ms = msSince(start);
    EXPECT_GE(ms, 6);
    EXPECT_LT(ms, 500);
}
