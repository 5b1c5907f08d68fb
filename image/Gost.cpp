#include "image/Gost.h"

#include "support/LittleEndian.h"

namespace {
// id-GostR3411-94-TestParamSet (RFC 4357), rows K1..K8; row Kk substitutes bits
// 4(k-1)..4k-1 of a word.
const uint8_t kSbox[8][16] = {
    {4, 10, 9, 2, 13, 8, 0, 14, 6, 11, 1, 12, 7, 15, 5, 3},
    {14, 11, 4, 12, 6, 13, 15, 10, 2, 3, 8, 1, 0, 7, 5, 9},
    {5, 8, 1, 13, 10, 3, 4, 2, 14, 15, 12, 7, 6, 0, 9, 11},
    {7, 13, 10, 1, 0, 8, 9, 15, 14, 4, 6, 12, 11, 2, 5, 3},
    {6, 12, 7, 1, 5, 15, 13, 8, 4, 10, 9, 14, 0, 3, 11, 2},
    {4, 11, 10, 0, 7, 2, 1, 13, 3, 6, 8, 5, 9, 12, 15, 14},
    {13, 11, 4, 1, 3, 15, 5, 9, 0, 10, 14, 7, 6, 8, 2, 12},
    {1, 15, 13, 0, 5, 7, 10, 4, 9, 2, 3, 14, 6, 11, 8, 12},
};

inline uint32_t roundFunction(uint32_t x) {
    uint32_t s = 0;
    for (int k = 0; k < 8; ++k) {
        s |= static_cast<uint32_t>(kSbox[k][(x >> (4 * k)) & 0xF]) << (4 * k);
    }
    return (s << 11) | (s >> 21);
}

inline uint32_t roundKey(const uint32_t key[8], int r) {
    return r < 8 ? key[r] : key[7 - (r % 8)];
}
}  // namespace

void GostSetKey(GostContext* c, const uint32_t key[8], const uint32_t* iv) {
    for (int i = 0; i < 8; ++i) {
        c->key[i] = key[i];
    }
    c->chaining[0] = iv ? iv[0] : 0;
    c->chaining[1] = iv ? iv[1] : 0;
    c->lastBlock[0] = 0;
    c->lastBlock[1] = 0;
}

void GostCbcDecrypt(GostContext* c, const uint8_t* in, uint8_t* out, size_t count) {
    for (size_t offset = 0; offset + 8 <= count; offset += 8) {
        const uint32_t w0 = getLe32(in + offset);
        const uint32_t w1 = getLe32(in + offset + 4);
        uint32_t a = w1;
        uint32_t b = w0;
        for (int r = 0; r < 32; ++r) {
            if (r % 2 == 0) {
                b ^= roundFunction(a + roundKey(c->key, r));
            } else {
                a ^= roundFunction(b + roundKey(c->key, r));
            }
        }
        c->lastBlock[0] = a ^ c->chaining[0];
        c->lastBlock[1] = b ^ c->chaining[1];
        // Read before writing: in and out may be the same buffer.
        putLe32(out + offset, c->lastBlock[0]);
        putLe32(out + offset + 4, c->lastBlock[1]);
        c->chaining[0] = w0;
        c->chaining[1] = w1;
    }
}
