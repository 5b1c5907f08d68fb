#include "image/Sha256.h"

#include <cstring>

#include "support/LittleEndian.h"

namespace {
// The first 32 bits of the fractional parts of the cube roots of the first 64 primes.
const uint32_t kRound[64] = {
    0x428a2f98u, 0x71374491u, 0xb5c0fbcfu, 0xe9b5dba5u, 0x3956c25bu, 0x59f111f1u, 0x923f82a4u,
    0xab1c5ed5u, 0xd807aa98u, 0x12835b01u, 0x243185beu, 0x550c7dc3u, 0x72be5d74u, 0x80deb1feu,
    0x9bdc06a7u, 0xc19bf174u, 0xe49b69c1u, 0xefbe4786u, 0x0fc19dc6u, 0x240ca1ccu, 0x2de92c6fu,
    0x4a7484aau, 0x5cb0a9dcu, 0x76f988dau, 0x983e5152u, 0xa831c66du, 0xb00327c8u, 0xbf597fc7u,
    0xc6e00bf3u, 0xd5a79147u, 0x06ca6351u, 0x14292967u, 0x27b70a85u, 0x2e1b2138u, 0x4d2c6dfcu,
    0x53380d13u, 0x650a7354u, 0x766a0abbu, 0x81c2c92eu, 0x92722c85u, 0xa2bfe8a1u, 0xa81a664bu,
    0xc24b8b70u, 0xc76c51a3u, 0xd192e819u, 0xd6990624u, 0xf40e3585u, 0x106aa070u, 0x19a4c116u,
    0x1e376c08u, 0x2748774cu, 0x34b0bcb5u, 0x391c0cb3u, 0x4ed8aa4au, 0x5b9cca4fu, 0x682e6ff3u,
    0x748f82eeu, 0x78a5636fu, 0x84c87814u, 0x8cc70208u, 0x90befffau, 0xa4506cebu, 0xbef9a3f7u,
    0xc67178f2u};

inline uint32_t rotr(uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

void processBlock(Sha256Context* c) {
    uint32_t w[64];
    for (int t = 0; t < 16; ++t) {
        w[t] = getBe32(c->block + 4 * t);
    }
    for (int t = 16; t < 64; ++t) {
        const uint32_t s0 = rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
        const uint32_t s1 = rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
        w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    uint32_t v[8];
    std::memcpy(v, c->state, sizeof v);
    for (int t = 0; t < 64; ++t) {
        const uint32_t e = v[4], a = v[0];
        const uint32_t choose = (e & v[5]) ^ (~e & v[6]);
        const uint32_t majority = (a & v[1]) ^ (a & v[2]) ^ (v[1] & v[2]);
        const uint32_t t1 =
            v[7] + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + choose + kRound[t] + w[t];
        const uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + majority;
        std::memmove(v + 1, v, 7 * sizeof v[0]);
        v[4] += t1;
        v[0] = t1 + t2;
    }
    for (int i = 0; i < 8; ++i) {
        c->state[i] += v[i];
    }
    c->blockIndex = 0;
}
}  // namespace

void Sha256Reset(Sha256Context* c) {
    static const uint32_t kInitial[8] = {0x6a09e667u, 0xbb67ae85u, 0x3c6ef372u, 0xa54ff53au,
                                         0x510e527fu, 0x9b05688cu, 0x1f83d9abu, 0x5be0cd19u};
    std::memcpy(c->state, kInitial, sizeof kInitial);
    c->length = 0;
    c->blockIndex = 0;
}

void Sha256Input(Sha256Context* c, const uint8_t* bytes, size_t count) {
    c->length += count;
    while (count > 0) {
        const size_t n = count < 64 - c->blockIndex ? count : 64 - c->blockIndex;
        std::memcpy(c->block + c->blockIndex, bytes, n);
        c->blockIndex += n;
        bytes += n;
        count -= n;
        if (c->blockIndex == 64) {
            processBlock(c);
        }
    }
}

void Sha256Result(Sha256Context* c, uint8_t digest[kSha256DigestSize]) {
    const uint64_t bits = c->length * 8;
    c->block[c->blockIndex++] = 0x80;
    if (c->blockIndex > 56) {
        std::memset(c->block + c->blockIndex, 0, 64 - c->blockIndex);
        processBlock(c);
    }
    std::memset(c->block + c->blockIndex, 0, 56 - c->blockIndex);
    putBe32(c->block + 56, static_cast<uint32_t>(bits >> 32));
    putBe32(c->block + 60, static_cast<uint32_t>(bits));
    processBlock(c);
    for (int i = 0; i < 8; ++i) {
        putBe32(digest + 4 * i, c->state[i]);
    }
}
