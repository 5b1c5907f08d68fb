#pragma once
// Firmware image file: a 128-byte RSA-signed header block, then the GOST-encrypted body.
// The header, once opened with a product key, carries version, build, build time, body
// length, release flags, the body digest, the body key and chaining value, and a digest
// of its own first 106 bytes.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "image/ProductKeys.h"

constexpr int kFirmwareHeaderSize = 128;

namespace header {
constexpr int kVersion = 2;
constexpr int kBuild = 4;
constexpr int kTimestamp = 8;
constexpr int kLength = 12;
constexpr int kFlags = 16;
constexpr int kBodyDigest = 46;
constexpr int kBodyKey = 66;
constexpr int kBodyIv = 98;
constexpr int kHeaderDigest = 106;
constexpr int kDigestedBytes = 106;
}  // namespace header

// Tries the five product keys in order; the first whose result carries a matching header
// digest wins. On success block holds the opened header and deviceType the product; on
// failure block is unchanged and deviceType is 0.
void VerifyFirmwareHeader(uint8_t block[kFirmwareHeaderSize], DeviceType& deviceType);

// Decrypts the body from `file` (positioned just after the header block) and compares its
// digest with the header's. Reads at most length + 8 bytes; fails without allocating when
// the file holds fewer than `length` bytes. Only whole 8-byte blocks are decrypted.
bool CheckFirmwareBody(FILE* file, const uint8_t header[kFirmwareHeaderSize]);

// Where a flash read back after an upload first differs from the body as sent, or -1 when it
// holds that body: as sent, or decrypted (a bootloader may keep it so) when its first
// `length` bytes carry the opened header's body digest.
int64_t flashDifference(const std::vector<uint8_t>& flash, const std::vector<uint8_t>& body,
                        const uint8_t header[kFirmwareHeaderSize]);

// "Beta", "Debug", "Flag2".."Flag15" for the set bits, joined by ",".
std::string firmwareFlagsText(uint16_t flags);

struct CalendarTime {
    int year, month, day, hour, minute, second;
};
// A build time in seconds since 2000-01-01 00:00:00 as calendar fields.
CalendarTime firmwareBuildTime(uint32_t timestamp);
// "YYYY-MM-DD hh:mm:ss".
std::string formatCalendarTime(const CalendarTime& t);

// Everything the window, the command line and the virtual instrument show of an image.
struct FirmwareImageInfo {
    enum class Verdict { UnknownProduct, Corrupted, Intact };
    Verdict verdict = Verdict::UnknownProduct;
    DeviceType deviceType = 0;
    uint8_t versionMajor = 0;
    uint8_t versionMinor = 0;
    uint16_t flags = 0;
    uint32_t build = 0;
    uint32_t timestamp = 0;
    uint32_t length = 0;
    // The raw block as read, opened when a key matched.
    uint8_t header[kFirmwareHeaderSize] = {};

    // "Unknown product or firmware corrupted", "Firmware corrupted", or the product name.
    const char* verdictText() const;
};

// Examines the image file at `path`; never throws. An unreadable file or one shorter than
// the header is an UnknownProduct verdict.
FirmwareImageInfo examineFirmwareImage(const std::string& path);
