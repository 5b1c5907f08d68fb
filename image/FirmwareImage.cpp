#include "image/FirmwareImage.h"

#include <cstring>
#include <memory>
#include <new>

#include "image/Bignum.h"
#include "image/Gost.h"
#include "image/Sha1.h"
#include "support/Files.h"
#include "support/LittleEndian.h"

namespace {
constexpr int kWords = kProductKeySize / 4;
}  // namespace

void VerifyFirmwareHeader(uint8_t block[kFirmwareHeaderSize], DeviceType& deviceType) {
    deviceType = 0;
    for (DeviceType p = 1; p <= kDeviceTypeCount; ++p) {
        const ProductKey* key = productKey(p);
        BnWord modulus[kWords], exponent[kWords], base[kWords], result[kWords];
        BnDecode(modulus, kWords, key->modulus, kProductKeySize);
        BnDecode(exponent, kWords, key->exponent, 3);
        BnDecode(base, kWords, block, kFirmwareHeaderSize);
        RsaPublic(result, base, exponent, modulus, kWords);
        uint8_t opened[kFirmwareHeaderSize];
        for (int i = 0; i < kWords; ++i) {
            putLe32(opened + 4 * i, result[i]);
        }
        uint8_t digest[kSha1DigestSize];
        Sha1Digest(opened, header::kDigestedBytes, digest);
        const bool match =
            std::memcmp(digest, opened + header::kHeaderDigest, kSha1DigestSize) == 0;
        if (match) {
            std::memcpy(block, opened, kFirmwareHeaderSize);
            deviceType = p;
        }
        secureWipe(result, sizeof result);
        secureWipe(opened, sizeof opened);
        if (match) {
            return;
        }
    }
}

bool CheckFirmwareBody(FILE* file, const uint8_t header[kFirmwareHeaderSize]) {
    uint32_t key[8], iv[2];
    for (int i = 0; i < 8; ++i) {
        key[i] = getLe32(header + header::kBodyKey + 4 * i);
    }
    iv[0] = getLe32(header + header::kBodyIv);
    iv[1] = getLe32(header + header::kBodyIv + 4);
    GostContext context;
    GostSetKey(&context, key, iv);

    // Sizes in 64 bits: a length near 2^32 must not wrap to a tiny buffer.
    const uint64_t length = getLe32(header + header::kLength);
    const uint64_t room = length + 8;
    const int64_t left = bytesLeft(file);
    if (left >= 0 && static_cast<uint64_t>(left) < length) {
        return false;  // the body cannot hold `length` bytes: no need to read it
    }
    std::unique_ptr<uint8_t[]> cipher(new (std::nothrow) uint8_t[room]);
    std::unique_ptr<uint8_t[]> plain(new (std::nothrow) uint8_t[room]);
    if (!cipher || !plain) {
        return false;
    }
    const size_t n = std::fread(cipher.get(), 1, room, file);
    const size_t whole = n - n % 8;  // a trailing partial block cannot be decrypted
    GostCbcDecrypt(&context, cipher.get(), plain.get(), whole);
    if (whole < length) {
        return false;
    }
    uint8_t digest[kSha1DigestSize];
    Sha1Digest(plain.get(), length, digest);
    return std::memcmp(digest, header + header::kBodyDigest, kSha1DigestSize) == 0;
}

int64_t flashDifference(const std::vector<uint8_t>& flash, const std::vector<uint8_t>& body,
                        const uint8_t header[kFirmwareHeaderSize]) {
    if (flash == body) {
        return -1;
    }
    const uint32_t length = getLe32(header + header::kLength);
    if (flash.size() >= length) {
        uint8_t digest[kSha1DigestSize];
        Sha1Digest(flash.data(), length, digest);
        if (std::memcmp(digest, header + header::kBodyDigest, kSha1DigestSize) == 0) {
            return -1;
        }
    }
    size_t at = 0;
    while (at < flash.size() && at < body.size() && flash[at] == body[at]) {
        ++at;
    }
    return static_cast<int64_t>(at);
}

std::string firmwareFlagsText(uint16_t flags) {
    std::string text;
    for (int bit = 0; bit < 16; ++bit) {
        if ((flags >> bit & 1u) == 0) {
            continue;
        }
        if (!text.empty()) {
            text += ',';
        }
        text += bit == 0 ? "Beta" : bit == 1 ? "Debug" : "Flag" + std::to_string(bit);
    }
    return text;
}

CalendarTime firmwareBuildTime(uint32_t timestamp) {
    const uint32_t seconds = timestamp % 86400;
    // Days since 1970-01-01, then the proleptic Gregorian civil date.
    int64_t z = static_cast<int64_t>(timestamp / 86400) + 10957 + 719468;
    const int64_t era = z / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    CalendarTime t;
    t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    t.year = static_cast<int>(yoe + era * 400 + (t.month <= 2 ? 1 : 0));
    t.hour = static_cast<int>(seconds / 3600);
    t.minute = static_cast<int>(seconds / 60 % 60);
    t.second = static_cast<int>(seconds % 60);
    return t;
}

std::string formatCalendarTime(const CalendarTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return text;
}

const char* FirmwareImageInfo::verdictText() const {
    switch (verdict) {
        case Verdict::UnknownProduct:
            return "Unknown product or firmware corrupted";
        case Verdict::Corrupted:
            return "Firmware corrupted";
        case Verdict::Intact:
            break;
    }
    return productName(deviceType);
}

FirmwareImageInfo examineFirmwareImage(const std::string& path) {
    FirmwareImageInfo info;
    const StdioFile file = openFile(path, "rb");
    if (!file ||
        std::fread(info.header, 1, kFirmwareHeaderSize, file.get()) != kFirmwareHeaderSize) {
        return info;
    }
    VerifyFirmwareHeader(info.header, info.deviceType);
    if (info.deviceType == 0) {
        return info;
    }
    const uint8_t* h = info.header;
    info.versionMinor = h[header::kVersion];
    info.versionMajor = h[header::kVersion + 1];
    info.build = getLe32(h + header::kBuild);
    info.timestamp = getLe32(h + header::kTimestamp);
    info.length = getLe32(h + header::kLength);
    info.flags = getLe16(h + header::kFlags);
    info.verdict = CheckFirmwareBody(file.get(), h) ? FirmwareImageInfo::Verdict::Intact
                                                    : FirmwareImageInfo::Verdict::Corrupted;
    return info;
}
