#pragma once
// The bootloader of one simulated instrument and the instruments routed behind it.
// Pure logic: a request message in, a reply message (or none) out. No I/O, no threads.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "engine/Messages.h"

struct SimConfig {
    uint8_t deviceType = 1;
    uint8_t bootloaderMajor = 1, bootloaderMinor = 2;
    uint8_t firmwareMajor = 0, firmwareMinor = 0;
    // Firmware already loaded at the start: its size and load time (seconds since 1970).
    bool firmwareLoaded = false;
    uint32_t firmwareSize = 0;
    int32_t firmwareTime = 0;
    uint32_t flashSize = 512 * 1024;
    uint32_t eraseDelayMs = 3000;
    bool stayAfterRun = false;  // keep answering after BPROT_MSG_RUNFW
};

// Reply codes of the simulated bootloader beyond accepted (200) and incompatible (252).
namespace simcode {
constexpr uint16_t kMalformed = 400;
constexpr uint16_t kNoUpload = 401;
constexpr uint16_t kOutOfRange = 402;
constexpr uint16_t kCheckFailed = 403;
}  // namespace simcode

class SimDevice {
  public:
    explicit SimDevice(const SimConfig& config);

    struct Reply {
        std::vector<uint8_t> message;  // header + payload
        uint32_t delayMs = 0;          // how long the bootloader works before answering
    };
    // Handles one request message (header + payload), following its route word down to
    // the addressed instrument. No reply: nothing listens there.
    std::optional<Reply> handle(const uint8_t* message, size_t size);

    // The instrument on `port` (0..7) behind this one, created on first use.
    SimDevice& child(int port, const SimConfig& config);
    SimDevice* findChild(int port) const;

    StatusInfo status() const;
    const std::vector<uint8_t>& flash() const { return flash_; }
    bool inBootloader() const { return inBootloader_; }
    void setInBootloader(bool on) { inBootloader_ = on; }
    const SimConfig& config() const { return config_; }
    // Flips the bits of one byte of the loaded firmware, as a flash cell that does not hold
    // its value would: the byte at `at`, or with -1 the one in its middle.
    void damageFlash(int64_t at = -1);

  private:
    std::optional<Reply> handleHere(const MessageHeader& request, const uint8_t* payload);
    Reply reply(const MessageHeader& request, uint16_t code, const uint8_t* payload = nullptr,
                uint16_t length = 0) const;
    uint16_t writeStart(const uint8_t* payload, uint16_t length);
    uint16_t writePage(const uint8_t* payload, uint16_t length);
    uint16_t finish(const uint8_t* payload, uint16_t length);

    SimConfig config_;
    std::vector<uint8_t> flash_;
    uint32_t firmwareSize_ = 0;
    int32_t firmwareTime_ = 0;
    bool loaded_ = false;
    bool inBootloader_ = true;
    // Upload in progress: pages written since the accepted WRITE_START.
    bool uploading_ = false;
    std::vector<bool> written_;
    uint8_t uploadMajor_ = 0, uploadMinor_ = 0;  // the version of the image being uploaded
    std::map<int, std::unique_ptr<SimDevice>> children_;
};
