#pragma once
// GOST 28147-89 decryption in cipher block chaining mode, S-boxes of
// id-GostR3411-94-TestParamSet. Only decryption exists. No allocation; the only state is
// the context. Each block is read as two little-endian words W0 (bytes 0..3), W1 (4..7).
#include <cstddef>
#include <cstdint>

struct GostContext {
    uint32_t chaining[2];
    uint32_t lastBlock[2];  // scratch: the most recent output block
    uint32_t key[8];
};

// iv may be null: the chain then starts from zero.
void GostSetKey(GostContext* context, const uint32_t key[8], const uint32_t* iv);
// count MUST be a multiple of 8; 0 does nothing. in and out may be the same buffer. The
// chaining value advances, so consecutive calls continue one chain.
void GostCbcDecrypt(GostContext* context, const uint8_t* in, uint8_t* out, size_t count);
