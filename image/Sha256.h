#pragma once
// SHA-256 (FIPS 180-4). Names an image file in a service record, as checksum tools do; the
// image's own digests are SHA-1. No allocation. After Sha256Result the context MUST be
// reset before further use.
#include <cstddef>
#include <cstdint>

struct Sha256Context {
    uint32_t state[8];
    uint64_t length;  // message length in bytes
    uint8_t block[64];
    size_t blockIndex;  // bytes waiting in block (0..63)
};

constexpr size_t kSha256DigestSize = 32;

void Sha256Reset(Sha256Context* context);
void Sha256Input(Sha256Context* context, const uint8_t* bytes, size_t count);
void Sha256Result(Sha256Context* context, uint8_t digest[kSha256DigestSize]);
