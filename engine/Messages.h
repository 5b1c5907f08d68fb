#pragma once
// The messages spoken with the bootloader. Every message, request or reply, is the
// payload of one frame (type 74, tag 1974): a 12-byte header then the payload, all
// fields little-endian and packed.
#include <cstdint>

enum MessageCode : uint16_t {
    BPROT_MSG_STATUSINFO = 100,
    BPROT_WRITE_FINISH_REQ = 101,
    BPROT_MSG_READ_PAGE = 103,
    BPROT_MSG_ERASE_FLASH = 104,
    BPROT_MSG_RUNFW = 105,
    BPROT_MSG_WRITE_START = 109,
    BPROT_MSG_WRITE_PAGE = 110,
};

constexpr uint16_t kReplyAccepted = 200;
constexpr uint16_t kReplyIncompatible = 252;
constexpr uint16_t kPageSize = 128;
constexpr uint16_t kImageHeaderSize = 128;
constexpr uint8_t kFinishMarker = 0x10;
constexpr uint16_t kFinishPayloadSize = 11;
constexpr uint16_t kStatusInfoSize = 20;
constexpr uint8_t kStatusFlagLoaded = 0x02;

struct MessageHeader {
    uint32_t reserved = 0;
    uint32_t route = 0;
    uint16_t code = 0;
    uint16_t length = 0;

    static MessageHeader decode(const uint8_t* bytes);
    void encode(uint8_t* bytes) const;
};

struct StatusInfo {
    uint8_t bootloaderMinor = 0;
    uint8_t bootloaderMajor = 0;
    uint8_t firmwareMinor = 0;
    uint8_t firmwareMajor = 0;
    uint32_t firmwareSize = 0;
    int32_t firmwareTime = 0;
    uint32_t areaSize = 0;
    uint16_t reserved = 0;  // bytes 16..17, the bootloader's own
    uint8_t deviceType = 0;
    uint8_t flags = 0;

    static StatusInfo decode(const uint8_t* bytes);
    void encode(uint8_t* bytes) const;
    bool firmwareLoaded() const { return (flags & kStatusFlagLoaded) != 0; }
};

// The device status display's name of a device type: "SOLVAR CU" .. "TAMRIK 3", and
// "Unknown" for 0 and every value above 5.
const char* deviceStatusName(uint8_t deviceType);

// Failure texts of the protocol.
namespace msg {
constexpr const char* kStatusFailed = "BPROT_MSG_STATUSINFO error, bootloader not responding";
constexpr const char* kRunFailed = "BPROT_MSG_RUNFW - sendreceive packet failed";
constexpr const char* kWriteStartFailed = "BPROT_MSG_WRITE_START error";
constexpr const char* kWritePageFailed = "BPROT_MSG_WRITE_PAGE error";
constexpr const char* kFinishFailed = "BPROT_WRITE_FINISH_REQ error";
constexpr const char* kReadPageFailed = "BPROT_MSG_READ_PAGE - send/receive packet failed";
constexpr const char* kEraseSendFailed = "BPROT_MSG_ERASE_FLASH - send packet failed";
constexpr const char* kEraseReceiveFailed = "BPROT_MSG_ERASE_FLASH - receive packet failed";
constexpr const char* kIncompatible = "Nekompatibilni firmware nebo do jineho zarizeni";
constexpr const char* kOtherError = "Jina chyba";
constexpr const char* kWriteFlashFailed = "Write flash firmware error";
}  // namespace msg
