#pragma once
// SHA-1 (FIPS 180-1). Big-endian inside, as the standard prescribes. No allocation.
// After Sha1Result the context MUST be reset before further use.
#include <cstddef>
#include <cstdint>

struct Sha1Context {
    uint32_t intermediate[5];
    uint32_t lengthLow;   // message length in bits, low half
    uint32_t lengthHigh;  // high half
    int16_t blockIndex;   // bytes waiting in block (0..63)
    uint8_t block[64];
};

constexpr size_t kSha1DigestSize = 20;

void Sha1Reset(Sha1Context* context);
void Sha1Input(Sha1Context* context, const uint8_t* bytes, size_t count);
void Sha1Result(Sha1Context* context, uint8_t digest[kSha1DigestSize]);
void Sha1Digest(const uint8_t* bytes, size_t count, uint8_t digest[kSha1DigestSize]);
