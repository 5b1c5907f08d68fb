// The loader's SHA-1, GOST decryption and RSA public-key operation, beside OpenSSL's.
#include <benchmark/benchmark.h>
#include <openssl/bn.h>
#include <openssl/sha.h>

#include <random>
#include <vector>

#include "image/Bignum.h"
#include "image/Gost.h"
#include "image/Sha1.h"

namespace {
std::vector<uint8_t> data(size_t size) {
    std::vector<uint8_t> d(size);
    std::mt19937 rng(1);
    for (auto& b : d)
        b = static_cast<uint8_t>(rng());
    return d;
}

using DigestFunction = void (*)(const uint8_t* data, size_t size, uint8_t digest[20]);

void opensslSha1(const uint8_t* data, size_t size, uint8_t digest[20]) {
    SHA1(data, size, digest);
}

void Sha1(benchmark::State& state, DigestFunction digestOf) {
    const auto d = data(1 << 20);
    uint8_t digest[20];
    for (auto _ : state) {
        digestOf(d.data(), d.size(), digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(d.size()));
}
BENCHMARK_CAPTURE(Sha1, Loader, &Sha1Digest);
BENCHMARK_CAPTURE(Sha1, Openssl, &opensslSha1);

void GostDecryptLoader(benchmark::State& state) {
    auto d = data(1 << 20);
    const uint32_t key[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    GostContext c;
    GostSetKey(&c, key, nullptr);
    for (auto _ : state) {
        GostCbcDecrypt(&c, d.data(), d.data(), d.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(d.size()));
}
BENCHMARK(GostDecryptLoader);

struct RsaCase {
    std::vector<BnWord> modulus, base, exponent;
    RsaCase() : modulus(32), base(32), exponent(32, 0) {
        std::mt19937 rng(3);
        for (auto& w : modulus)
            w = static_cast<BnWord>(rng());
        for (auto& w : base)
            w = static_cast<BnWord>(rng());
        modulus[31] |= 0x80000000u;
        modulus[0] |= 1;
        base[31] &= 0x7FFFFFFFu;
        exponent[0] = 65537;
    }
};

void RsaPublicLoader(benchmark::State& state) {
    RsaCase c;
    std::vector<BnWord> result(32);
    for (auto _ : state) {
        RsaPublic(result.data(), c.base.data(), c.exponent.data(), c.modulus.data(), 32);
        benchmark::DoNotOptimize(result.data());
    }
}
BENCHMARK(RsaPublicLoader);

void RsaPublicOpensslModExp(benchmark::State& state) {
    RsaCase c;
    BN_CTX* ctx = BN_CTX_new();
    BIGNUM *m = BN_new(), *b = BN_new(), *e = BN_new(), *r = BN_new();
    BN_lebin2bn(reinterpret_cast<const uint8_t*>(c.modulus.data()), 128, m);
    BN_lebin2bn(reinterpret_cast<const uint8_t*>(c.base.data()), 128, b);
    BN_set_word(e, 65537);
    for (auto _ : state) {
        BN_mod_exp(r, b, e, m, ctx);
        benchmark::DoNotOptimize(r);
    }
    BN_free(m);
    BN_free(b);
    BN_free(e);
    BN_free(r);
    BN_CTX_free(ctx);
}
BENCHMARK(RsaPublicOpensslModExp);
}  // namespace
