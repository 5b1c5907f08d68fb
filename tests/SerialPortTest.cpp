#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "link/PortNames.h"
#include "link/SerialPort.h"
#include "link/SerialSettings.h"
#include "support/Exception.h"
#include "tests/TestSupport.h"

namespace {
using Clock = std::chrono::steady_clock;

// A pseudo-terminal: `path` is the serial device under test, `master` the far end.
struct Pty {
    int master = -1, slave = -1;
    std::string path;
    Pty() {
        char name[256];
        termios tio{};
        ::cfmakeraw(&tio);
        if (::openpty(&master, &slave, name, &tio, nullptr) != 0) {
            throw std::runtime_error("openpty");
        }
        path = name;
    }
    ~Pty() {
        ::close(slave);
        if (master >= 0)
            ::close(master);
    }
    void send(const std::string& bytes) const {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
};
}  // namespace

TEST(LineSettings, ParsesAndRejectsAsDocumented) {
    using P = LineSettings::Parity;
    // Text, baud, parity, data bits, stop bits.
    const std::tuple<const char*, int, P, int, int> kValid[] = {
        {"115200,N,8,1", 115200, P::None, 8, 1},
        {"9600,e,7,2", 9600, P::Even, 7, 2},
        {"115200,N,8,1.5", 115200, P::None, 8, 1},
        {" -5,o,x,2", -5, P::Odd, 0, 2}};
    for (const auto& [text, baud, parity, dataBits, stopBits] : kValid) {
        const LineSettings s = parseLineSettings(text);
        EXPECT_EQ(std::make_tuple(s.baud, s.parity, s.dataBits, s.stopBits),
                  std::make_tuple(baud, parity, dataBits, stopBits))
            << text;
    }
    const std::pair<const char*, const char*> kInvalid[] = {
        {"115200,N,8", "not valid format of com settings, (have to be 19200,8,N,1)"},
        {"115200,N,8,1,0", "not valid format of com settings, (have to be 19200,8,N,1)"},
        {"", "not valid format of com settings, (have to be 19200,8,N,1)"},
        {"115200,N,8,1,", "not valid format of com settings, (have to be 19200,8,N,1)"},
        {"19200,8,N,1", "Not valid type of parity"},
        {"115200,M,8,1", "Not valid type of parity"},
        {"115200,,8,1", "Not valid type of parity"},
        {"115200,N,8,3", "Not valid number of stop bits"},
        {"115200,N,8,x", "Not valid number of stop bits"}};
    for (const auto& [text, error] : kInvalid) {
        EXPECT_EQ(messageOf([&] { parseLineSettings(text); }), error) << text;
    }
}

TEST(SerialPort, AppliesTheLineSettingsToTheDevice) {
    Pty pty;
    SerialPort port;
    port.open(pty.path, "9600,e,7,2", 0);
    // A pseudo-terminal keeps the speed and stop bits but forces 8 data bits and no
    // parity, so those two are proven by the settings parser's own test.
    for (const auto& [settings, speed, twoStopBits] :
         {std::tuple<const char*, speed_t, bool>{"", B9600, true},
          {"115200,N,8,1", B115200, false}}) {
        if (*settings)
            port.configure(settings);
        termios tio;
        ASSERT_EQ(::tcgetattr(pty.slave, &tio), 0);
        EXPECT_EQ(std::make_tuple(::cfgetospeed(&tio), (tio.c_cflag & CSTOPB) != 0,
                                  (tio.c_cflag & CRTSCTS) != 0, (tio.c_iflag & (IXON | IXOFF)) != 0,
                                  (tio.c_lflag & (ICANON | ECHO)) != 0),
                  std::make_tuple(speed, twoStopBits, false, false, false))
            << settings;
    }
    port.configure("250000,N,8,1");  // not a standard rate: set through termios2
    EXPECT_EQ(messageOf([&] { port.configure("115200,N,9,1"); }), "SetCommState failed");
    EXPECT_EQ(messageOf([&] { port.configure("19200,8,N,1"); }), "Not valid type of parity");
    EXPECT_TRUE(port.isOpen()) << "a configuration failure leaves the device open";
}

TEST(SerialPort, OpenIsExclusiveDiscardsStaleBytesAndCloseIsSafe) {
    SerialPort port, other;
    const std::string longName = "/tmp/" + std::string(2000, 'n');
    for (const std::string& missing : {std::string("/dev/does-not-exist"), longName}) {
        EXPECT_EQ(messageOf([&] { port.open(missing, "115200,N,8,1", 0); }),
                  "open port '" + missing + "' failed");
        EXPECT_FALSE(port.isOpen());
    }
    Pty pty;
    pty.send("stale bytes");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    port.close();
    port.open(pty.path, "115200,N,8,1", 0);
    port.open(pty.path, "115200,N,8,1", 0);  // open on an open port closes it first
    uint8_t buffer[32];
    EXPECT_EQ(port.read(buffer, sizeof buffer, 0), 0u) << "bytes from before the open are gone";
    EXPECT_EQ(messageOf([&] { other.open(pty.path, "115200,N,8,1", 0); }),
              "open port '" + pty.path + "' failed");
    port.close();
    port.close();
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(messageOf([&] { port.read(buffer, 1, 0); }), "read data failed, err: 9")
        << "a closed port is no silent line";
    other.open(pty.path, "115200,N,8,1", 0);
    EXPECT_TRUE(other.isOpen()) << "closing releases the device for the next user";
}

// A read of n bytes with t waits 2 ms a byte plus t in all, returns what came once a
// whole read is done, and after the first byte ends at a gap of t.
TEST(SerialPort, ReadTimeOutsFollowThePortRules) {
    Pty pty;
    SerialPort port;
    port.open(pty.path, "115200,N,8,1", 0);
    // Sent, bytes asked for, t; at least and under so many ms.
    const std::tuple<std::string, uint32_t, uint32_t, long, long> kReads[] = {
        {"", 4, 0, 8, 500},                // silent: 2 * 4 ms
        {"ab", 10, 0, 20, 500},            // what came in time, after 2 * 10 ms
        {"0123456789", 10, 1000, 0, 500},  // complete: at once, not after 1020 ms
        {"x", 250, 100, 100, 450},         // a gap of 100 ms, long before 2 * 250 + 100
    };
    for (const auto& [sent, count, t, atLeastMs, underMs] : kReads) {
        pty.send(sent);
        uint8_t buffer[300];
        const auto start = Clock::now();
        const uint32_t got = port.read(buffer, count, t);
        const long ms = msSince(start);
        EXPECT_EQ(std::string(buffer, buffer + got), sent);
        EXPECT_GE(ms, atLeastMs) << count << " bytes, t = " << t;
        EXPECT_LT(ms, underMs) << count << " bytes, t = " << t;
    }
}

TEST(SerialPort, FarEndClosingIsAReadAndWriteFailure) {
    Pty pty;
    SerialPort port;
    port.open(pty.path, "115200,N,8,1", 0);
    ::close(pty.master);
    pty.master = -1;
    uint8_t buffer[4];
    const auto start = Clock::now();
    const std::string readError = messageOf([&] { port.read(buffer, 4, 0); });
    EXPECT_EQ(readError.rfind("read data failed, err: ", 0), 0u) << readError;
    EXPECT_LT(msSince(start), 1000);
    const std::string writeError = messageOf([&] { port.write(buffer, 4, 0); });
    EXPECT_EQ(writeError.rfind("SerialPort::write 4 bytes data failed, err: ", 0), 0u)
        << writeError;
}

// The window's tests reach instruments by COM names through the alias folder and see the
// fixed eight listed first.
TEST(PortNames, PathsAndBareDeviceNamesAndComNamesWithoutAnAlias) {
    EXPECT_EQ(resolvePortName("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(resolvePortName("COM1"), "/dev/ttyS0");
    EXPECT_EQ(resolvePortName("ttyACM3"), "/dev/ttyACM3");
}
