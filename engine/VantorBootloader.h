#pragma once
// The one object through which the program talks to an instrument's bootloader.
//
// Short operations (Connect, Disconnect, RequestStatus, RunFirmware, routing) run on the
// caller's thread and throw Exception. Flash operations (upload, read-back, erase) run as
// one work item on a new worker thread and report through the listener. There is no
// lock: while IsBusy() the owner MUST NOT call anything but the queries.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>

#include "engine/Messages.h"
#include "engine/VantorBootloaderEventListener.h"
#include "link/FrameLink.h"
#include "link/SerialPort.h"
#include "support/Exception.h"
#include "support/Thread.h"

class VantorBootloader : public Thread {
  public:
    enum WorkCode : int32_t { kWorkNone = 0, kWorkUpload = 1, kWorkRead = 2, kWorkErase = 3 };

    static constexpr uint16_t kLinkTimeoutMs = 1000;
    static constexpr uint16_t kUploadTimeoutMs = 4000;
    static constexpr uint32_t kEraseDeadlineMs = 20000;
    static constexpr const char* kLineSettings = "115200,N,8,1";

    explicit VantorBootloader(VantorBootloaderEventListener* listener);
    // Waits for a worker that is still finishing, then closes the port.
    ~VantorBootloader() override;

    void Connect(const std::string& portName);
    void Disconnect();
    bool IsConnected() const { return connected.load(); }
    StatusInfo RequestStatus();
    bool IsFirmwareLoaded() const { return status.firmwareLoaded(); }
    void RunFirmware();
    void UploadFirmware(const std::string& path);
    // Read the flash back into a file, and erase it; scheduled like an upload.
    void ReadFlash(const std::string& path);
    void EraseFlash();
    void SetRoutePath(const std::string& text);
    // Waits until the line has been quiet for `quietMs` (at most `limitMs`), dropping what
    // comes meanwhile: after a request left unanswered, its answer may still come late.
    void DrainLine(uint16_t quietMs, uint16_t limitMs) { link.drain(quietMs, limitMs); }
    void ClearRoute() { route = 0; }
    bool IsRouted() const { return route != 0; }
    bool IsBusy() const { return workCode.load() != kWorkNone; }

    // Last status record received.
    const StatusInfo& Status() const { return status; }
    // Why the last work item failed, with its hint: OnError's text, kept whole. Read once
    // the listener has heard of the failure.
    const Exception& WorkFailure() const { return workFailure; }
    uint32_t Route() const { return route; }

    // Observer of every frame sent and received (wire images), for tracing. Called on the
    // thread that runs the exchange.
    void SetFrameTrace(std::function<void(bool outgoing, const uint8_t* wire, size_t size)> trace) {
        link.trace = std::move(trace);
    }

  protected:
    void run() override;

  private:
    void startWork(int32_t code);
    void Upload();
    // The body's pages of an image, as many as announced, each written as it is read; their
    // bytes' count and CRC-16 added to `total` and `crc`.
    void WritePages(std::FILE* file, const std::string& path, uint64_t pages, uint8_t* buffer,
                    uint16_t& crc, uint32_t& total);
    void ReadBack();
    void Erase();
    // One exchange; throws `failure` when no reply came in time, or one shorter than
    // `least` bytes (what the caller reads of it: a short one would read as zeros or as
    // what the buffer held before).
    int32_t exchange(uint16_t code, uint8_t* buffer, uint16_t n, const char* failure,
                     int32_t least = 0);

    static uint32_t sinkToPort(const uint8_t* data, uint16_t count);
    static uint32_t sourceFromPort(uint8_t* data, uint16_t count);

    VantorBootloaderEventListener* listener;
    SerialPort port;
    std::atomic<bool> connected{false};
    StatusInfo status;
    FrameLink link;
    std::atomic<int32_t> workCode{kWorkNone};
    Exception workFailure{"%s", ""};
    std::string uploadPath;
    std::string readPath;
    uint32_t route = 0;
};

// The one engine of the process; the link's byte sink and source reach the port through it.
extern std::atomic<VantorBootloader*> theBootloader;
