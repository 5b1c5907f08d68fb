#pragma once
// A simulated instrument on a pseudo-terminal: the host opens devicePath() like a serial
// port. One thread of its own reads request frames, lets the SimDevice answer and writes
// the reply frames, with faults on demand and optional pacing at a UART's speed.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/SimDevice.h"

class FrameReceiver;

struct SimFault {
    enum class Kind {
        Silent,       // the request is lost: no processing, no reply
        Late,         // the reply comes delayMs later than it would
        Corrupt,      // one byte of the reply frame is changed
        WrongType,    // a copy of the reply with another frame type comes first
        WrongTag,     // a copy of the reply with another frame tag comes first
        Noise,        // bytes that hold no frame come first
        ReplyCode,    // the reply carries replyCode instead of its own code
        HangUp,       // the line hangs up instead of answering
        FlipFlash,    // an accepted upload's firmware has one byte changed in the flash
        OtherDevice,  // the status reply names deviceType instead of its own device type
        Short,        // the reply's frame ends after its header, which still claims the payload
    };
    Kind kind = Kind::Silent;
    uint16_t code = 0;  // request code it applies to; 0: any request
    uint32_t nth = 0;   // the nth matching request (from 1); 0: every matching request
    uint32_t delayMs = 0;
    uint16_t replyCode = 0;
    int64_t at = -1;         // flip-flash: the firmware's byte changed; -1: the one in its middle
    uint8_t deviceType = 0;  // other-device: the device type the status names
    // Only requests on this route word (a child's: route=2.5); kAnyRoute: any request.
    static constexpr uint32_t kAnyRoute = 0xFFFFFFFFu;
    uint32_t route = kAnyRoute;
};

// Parses "kind[:code=N][:nth=N][:delay=MS][:reply=N][:at=N][:type=N][:route=PATH]", kind one
// of silent, late, corrupt, wrong-type, wrong-tag, noise, reply-code, hang-up, flip-flash,
// other-device, short.
// Throws Exception on bad text.
SimFault parseSimFault(const std::string& text);

class VirtualInstrument {
  public:
    // Creates the pseudo-terminal at once, or with `device` serves that existing terminal
    // (a USB gadget's /dev/ttyGS0, a null-modem cable's end) in raw mode, opening it again
    // when its far end goes away and comes back. The line answers after start().
    explicit VirtualInstrument(const SimConfig& config, const std::string& device = "");
    ~VirtualInstrument();
    VirtualInstrument(const VirtualInstrument&) = delete;
    VirtualInstrument& operator=(const VirtualInstrument&) = delete;

    void start();
    void stop();

    // The terminal device the host opens. Changes after a hang-up.
    std::string devicePath() const;
    // Registers `comName` (COMn) in the port alias folder; removed again by the destructor.
    void registerAlias(const std::string& comName);

    // Instruments reached through this one: path "2" is the child on port 2, "2.5" the
    // child on port 5 of that one.
    void addChild(const std::string& path, const SimConfig& config);

    void addFault(const SimFault& fault);
    void clearFaults();
    // Pace every byte in both directions as a UART at this many bits per second
    // (10 bits a byte); 0 turns pacing off.
    void setBaud(uint32_t baud);
    void setTrace(FILE* out);

    // Thread-safe views of the simulated instruments (route path "" is this one).
    std::vector<uint8_t> flash(const std::string& path = "") const;
    StatusInfo status(const std::string& path = "") const;
    bool inBootloader() const;
    void setInBootloader(bool on);
    uint32_t requestCount() const { return requests_.load(); }
    // Frame bytes that crossed the line in either direction (noise included), for
    // measuring a transfer against the line's own limit.
    uint64_t lineBytes() const { return lineBytes_.load(); }
    // Bytes read from the line so far, whole frames or not.
    uint64_t bytesRead() const { return bytesRead_.load(); }
    // Frames begun and dropped because their bytes stopped coming.
    uint64_t framesCut() const { return framesCut_.load(); }
    // True from a request that gets no answer the host can take (lost, not for a
    // bootloader, hung up, answered corrupt) or whose answer is held back for the device's
    // working time, until that answer goes out or the next request comes: while the host
    // can only wait. Lets a test's clock run fast through such waits alone.
    bool hostOnlyWaits() const { return hostOnlyWaits_.load(); }
    // Every request message received, in order (header + payload).
    std::vector<std::vector<uint8_t>> requests() const;

  private:
    struct ArmedFault {
        SimFault fault;
        uint32_t seen = 0;
    };

    // Opens a fresh terminal, replacing (and then closing) the current one.
    void openTerminal();
    // Opens the served device; false when it is not there (yet).
    bool openDevice();
    // Closes the device that went away and waits until it can be opened again.
    void reopenDevice();
    void closeTerminal();
    void updateAlias();
    using Clock = std::chrono::steady_clock;

    void serve();
    // The serving thread's read of the line; a far end gone is kept in lineLost_.
    uint32_t readLine(uint8_t* data, uint16_t count);
    // `arrived`: when the request's first byte came in.
    void handleFrame(const uint8_t* message, size_t size, Clock::time_point arrived);
    // The request logged, the fault it meets (if any) found, and the device's reply (none:
    // lost).
    std::optional<SimDevice::Reply> answer(const uint8_t* message, size_t size,
                                           const MessageHeader& header,
                                           std::optional<SimFault>& fault);
    // The frame the receiver holds: traced, counted, and handled if it is a request.
    void takeFrame(FrameReceiver& receiver, Clock::time_point arrived);
    // Waits until `due`; false when the instrument is stopping.
    bool pauseUntil(Clock::time_point due);
    // How long `bytes` take on the paced line; zero when unpaced.
    Clock::duration byteTime(size_t bytes) const;
    // Puts bytes on the line from `lineFree` on; returns when the line is free again.
    Clock::time_point writeAll(const uint8_t* data, size_t size, Clock::time_point lineFree);
    Clock::time_point writeFrame(const std::vector<uint8_t>& message, uint8_t type, uint16_t tag,
                                 bool corrupt, Clock::time_point lineFree);
    SimDevice* find(const std::string& path) const;

    mutable std::mutex mutex_;  // guards the device tree, faults, requests and trace
    SimDevice root_;
    std::vector<ArmedFault> faults_;
    std::vector<std::vector<uint8_t>> log_;
    std::atomic<uint32_t> requests_{0};
    std::atomic<bool> hostOnlyWaits_{false};
    std::atomic<uint64_t> lineBytes_{0};
    std::atomic<uint64_t> bytesRead_{0};
    std::atomic<uint64_t> framesCut_{0};
    bool lineLost_ = false;  // the serving thread's alone
    std::atomic<uint32_t> baud_{0};
    FILE* trace_ = nullptr;

    int master_ = -1;
    int slaveKeeper_ = -1;  // keeps the terminal alive while no host has it open
    std::string path_;
    std::string alias_;
    const std::string device_;  // empty: a pseudo-terminal of its own
    int wake_[2] = {-1, -1};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};
