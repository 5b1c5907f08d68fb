#pragma once
// One serial device: open by name with a line-settings text, read and write with a
// per-call time-out, close.
//
// Time-out contract (the communication time-outs of the original platform):
// - read(k, t) returns when k bytes are in, when the gap between two received bytes
//   exceeds t (t = 0: no gap limit), or when 2k + t ms have passed, with what has come.
//   A short read means a time-out, never an error.
// - write(k, t) returns when every byte has been accepted.
// - A line that went away (far end closed, device unplugged) is a read or write failure,
//   never an endless stream of zero-byte reads.
// Every failure raises Exception with the port's messages. No locking: one thread at a
// time.
#include <cstdint>
#include <string>

class SerialPort {
  public:
    SerialPort() = default;
    virtual ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens an existing device exclusively and configures it. On Linux a COMn name goes
    // through the port alias folder first (see PortNames.h).
    void open(const std::string& name, const std::string& settings, uint32_t t);
    void configure(const std::string& settings);
    uint32_t read(uint8_t* buffer, uint32_t count, uint32_t t);
    uint32_t write(const uint8_t* buffer, uint32_t count, uint32_t t);
    void close();
    bool isOpen() const;

  private:
    // The five time-outs of the read and write rules, in milliseconds.
    struct Timeouts {
        uint32_t readInterval = 0;
        uint32_t readTotalPerByte = 0;
        uint32_t readTotalConstant = 0;
        uint32_t writeTotalPerByte = 0;
        uint32_t writeTotalConstant = 0;
        bool operator==(const Timeouts& o) const {
            return readInterval == o.readInterval && readTotalPerByte == o.readTotalPerByte &&
                   readTotalConstant == o.readTotalConstant &&
                   writeTotalPerByte == o.writeTotalPerByte &&
                   writeTotalConstant == o.writeTotalConstant;
        }
    };
    // The port as the user named it and the device opened for it, for failure hints.
    std::string name_, device_;
    // Windows: what the driver holds since open. POSIX: the rules the port applies itself.
    Timeouts timeouts_;
#ifdef _WIN32
    // Hands the values to the driver when they differ from those it holds: the call costs
    // more than a short read itself.
    void applyTimeouts(const Timeouts& wanted);
    void* handle_ = reinterpret_cast<void*>(static_cast<intptr_t>(-1));
#else
    int handle_ = -1;
#endif
};
