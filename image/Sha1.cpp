#include "image/Sha1.h"

#include <cstring>

#include "support/LittleEndian.h"

namespace {
inline uint32_t rotl(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

void Sha1ProcessBlock(Sha1Context* c) {
    static const uint32_t kRound[4] = {0x5A827999u, 0x6ED9EBA1u, 0x8F1BBCDCu, 0xCA62C1D6u};
    uint32_t w[80];
    for (int t = 0; t < 16; ++t) {
        w[t] = getBe32(c->block + 4 * t);
    }
    for (int t = 16; t < 80; ++t) {
        w[t] = rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    }
    uint32_t a = c->intermediate[0], b = c->intermediate[1], d0 = c->intermediate[2],
             d = c->intermediate[3], e = c->intermediate[4];
    for (int t = 0; t < 80; ++t) {
        uint32_t f;
        if (t < 20) {
            f = (b & d0) | (~b & d);  // choose
        } else if (t < 40 || t >= 60) {
            f = b ^ d0 ^ d;  // parity
        } else {
            f = (b & d0) | (b & d) | (d0 & d);  // majority
        }
        const uint32_t temp = rotl(a, 5) + f + e + w[t] + kRound[t / 20];
        e = d;
        d = d0;
        d0 = rotl(b, 30);
        b = a;
        a = temp;
    }
    c->intermediate[0] += a;
    c->intermediate[1] += b;
    c->intermediate[2] += d0;
    c->intermediate[3] += d;
    c->intermediate[4] += e;
    c->blockIndex = 0;
}

void Sha1Pad(Sha1Context* c) {
    c->block[c->blockIndex++] = 0x80;
    if (c->blockIndex > 56) {
        std::memset(c->block + c->blockIndex, 0, 64 - c->blockIndex);
        Sha1ProcessBlock(c);
    }
    std::memset(c->block + c->blockIndex, 0, 56 - c->blockIndex);
    putBe32(c->block + 56, c->lengthHigh);
    putBe32(c->block + 60, c->lengthLow);
    Sha1ProcessBlock(c);
}
}  // namespace

void Sha1Reset(Sha1Context* c) {
    c->intermediate[0] = 0x67452301u;
    c->intermediate[1] = 0xEFCDAB89u;
    c->intermediate[2] = 0x98BADCFEu;
    c->intermediate[3] = 0x10325476u;
    c->intermediate[4] = 0xC3D2E1F0u;
    c->lengthLow = 0;
    c->lengthHigh = 0;
    c->blockIndex = 0;
}

void Sha1Input(Sha1Context* c, const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        c->block[c->blockIndex++] = bytes[i];
        c->lengthLow += 8;
        if (c->lengthLow == 0) {
            ++c->lengthHigh;
        }
        if (c->blockIndex == 64) {
            Sha1ProcessBlock(c);
        }
    }
}

void Sha1Result(Sha1Context* c, uint8_t digest[kSha1DigestSize]) {
    Sha1Pad(c);
    std::memset(c->block, 0, sizeof c->block);
    c->lengthLow = 0;
    c->lengthHigh = 0;
    for (int i = 0; i < 5; ++i) {
        putBe32(digest + 4 * i, c->intermediate[i]);
    }
}

void Sha1Digest(const uint8_t* bytes, size_t count, uint8_t digest[kSha1DigestSize]) {
    Sha1Context context;
    Sha1Reset(&context);
    Sha1Input(&context, bytes, count);
    Sha1Result(&context, digest);
}
