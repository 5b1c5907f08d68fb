#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/sha.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "image/Bignum.h"
#include "image/Gost.h"
#include "image/Sha1.h"
#include "tests/TestSupport.h"
#include "tools/ImageSigner.h"

namespace {
using Bytes = std::vector<uint8_t>;

std::string sha1Hex(const std::string& text) {
    uint8_t digest[20];
    Sha1Digest(reinterpret_cast<const uint8_t*>(text.data()), text.size(), digest);
    return hexBytes(digest, 20);
}
}  // namespace

// FIPS 180-1 appendices A and B, RFC 3174 section 7.3; then every length up to 300 bytes,
// fed in pieces of many sizes, against OpenSSL.
TEST(Sha1, PublishedVectorsAndEveryLengthInPieces) {
    const std::pair<std::string, const char*> kVectors[] = {
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    };
    for (const auto& [input, digest] : kVectors) {
        EXPECT_EQ(sha1Hex(input), digest) << input.size() << " bytes";
    }
    const Bytes text = randomBody(300, 180);
    for (size_t length = 0; length <= text.size(); ++length) {
        const size_t piece = 1 + length % 67;
        Sha1Context c;
        Sha1Reset(&c);
        for (size_t at = 0; at < length; at += piece) {
            Sha1Input(&c, text.data() + at, std::min(piece, length - at));
        }
        uint8_t digest[20], expected[20];
        Sha1Result(&c, digest);
        SHA1(text.data(), length, expected);
        ASSERT_EQ(hexBytes(digest, 20), hexBytes(expected, 20))
            << length << " bytes in pieces of " << piece;
    }
}

// GOST R 34.11-94's worked example, with the same S-boxes: E_K1(0) = 42ABBCCE 32BC0B1B for
// K1 = 733D2C20 65686573 74746769 79676120 626E7373 20657369 326C6568 33206D54. Words as
// the standard writes them, last key word first in memory; the block is W0 = 42ABBCCE,
// W1 = 32BC0B1B. So decrypting it with a zero IV gives zeros, and the next block of the
// same cipher text decrypts to that block itself.
TEST(Gost, StandardWorkedExamplePinsKeyAndHalfOrder) {
    const uint32_t key[8] = {0x33206D54, 0x326C6568, 0x20657369, 0x626E7373,
                             0x79676120, 0x74746769, 0x65686573, 0x733D2C20};
    const Bytes block = {0xCE, 0xBC, 0xAB, 0x42, 0x1B, 0x0B, 0xBC, 0x32};
    const Bytes cipher = concat({block, block});
    GostContext c;
    GostSetKey(&c, key, nullptr);
    Bytes plain(16);
    GostCbcDecrypt(&c, cipher.data(), plain.data(), 16);
    EXPECT_EQ(plain, concat({Bytes(8, 0), block}));
}

// libgcrypt's GOST28147 with S-box 1.2.643.2.2.30.0 in CBC mode is the reference. Each
// cipher text is decrypted in place, in two calls that must chain.
TEST(Gost, AgreesWithLibgcryptOnRandomKeysChainsAndLengths) {
    std::mt19937 rng(4357);
    for (int round = 0; round < 2000; ++round) {
        const Bytes key = randomBody(32, rng()), iv = randomBody(8, rng());
        Bytes text = randomBody(8 * (rng() % 40), rng());
        const Bytes expected = gostCbcDecryptReference(key.data(), iv.data(), text);

        uint32_t keyWords[8], ivWords[2];
        std::memcpy(keyWords, key.data(), 32);
        std::memcpy(ivWords, iv.data(), 8);
        GostContext c;
        GostSetKey(&c, keyWords, ivWords);
        const size_t first = 8 * (rng() % (text.size() / 8 + 1));
        GostCbcDecrypt(&c, text.data(), text.data(), first);
        GostCbcDecrypt(&c, text.data() + first, text.data() + first, text.size() - first);
        ASSERT_EQ(text, expected) << "round " << round << ", first call " << first << " bytes";
    }
}

namespace {
// OpenSSL is the independent reference for the multi-precision arithmetic.
using Words = std::vector<BnWord>;
using BnPtr = std::unique_ptr<BIGNUM, decltype(&BN_free)>;
const std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> g_ctx(BN_CTX_new(), BN_CTX_free);

BnPtr bn(const Words& w = {}) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(w.data());
    return BnPtr(BN_lebin2bn(bytes, static_cast<int>(w.size() * 4), nullptr), BN_free);
}
Words words(const BnPtr& b, size_t n) {
    Words w(n);
    BN_bn2lebinpad(b.get(), reinterpret_cast<uint8_t*>(w.data()), static_cast<int>(n * 4));
    return w;
}

// Random words; now and then with all-ones words that push the quotient estimate to its
// limits.
Words randomWords(std::mt19937& rng) {
    Words w(kBnMaxWords);
    const bool ones = rng() % 4 == 0;
    for (auto& x : w)
        x = ones && rng() % 2 ? 0xFFFFFFFFu : static_cast<BnWord>(rng());
    return w;
}

void checkDivision(const Words& a, Words m) {
    const Words mBefore = m;
    Words q(a.size()), r(a.size());
    ASSERT_EQ(BnDiv(q.data(), r.data(), a.data(), static_cast<int>(a.size()), m.data(),
                    static_cast<int>(m.size())),
              0);
    EXPECT_EQ(m, mBefore) << "the divisor is restored";
    const BnPtr Q = bn(), R = bn();
    BN_div(Q.get(), R.get(), bn(a).get(), bn(m).get(), g_ctx.get());
    EXPECT_EQ(std::make_pair(q, r), std::make_pair(words(Q, a.size()), words(R, a.size())));
}
}  // namespace

TEST(Bignum, DivisionAgreesWithOpensslInTheAddBackAndCorrectionCases) {
    // Hacker's Delight test cases for Algorithm D: the first needs the add-back step, the
    // others the estimate's corrections.
    checkDivision({0, 0, 0x80000000u, 0x7FFFFFFFu}, {1, 0, 0x80000000u});
    checkDivision({0, 0xFFFE0000u, 0xFFFFFFFFu, 0x7FFFFFFFu},
                  {0xFFFFFFFFu, 0x00007FFFu, 0x80000000u});
    checkDivision({3, 0, 0x80000000u}, {1, 0, 0x20000000u});
    checkDivision({0x00000000u, 0x00007FFFu, 0x00008000u}, {1, 0x00008000u});
    checkDivision({5, 6, 7}, {5, 6, 7});  // equal: quotient 1, remainder 0
    checkDivision({5, 6, 0}, {5, 6, 7});  // smaller
    checkDivision({0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}, {7, 0, 0});  // one-word divisor

    Words q(4), r(4), zero(2, 0);
    const Words a = {1, 2, 3, 4};
    EXPECT_EQ(BnDiv(q.data(), r.data(), a.data(), 4, zero.data(), 2), -1);
}

TEST(Bignum, ModularExponentiationAgreesWithOpenssl) {
    std::mt19937 rng(65537);
    const int n = kBnMaxWords;
    for (int round = 0; round < 150; ++round) {
        Words modulus = randomWords(rng), base = randomWords(rng);
        modulus[0] |= 1;  // 1024 or 1023 bits
        modulus.back() =
            round % 2 ? modulus.back() | 0x80000000u : (modulus.back() & 0x7FFFFFFFu) | 0x40000000u;
        // Exponents 2, 65537, 24 random bits, 1024 random bits, 3 with a base above the
        // modulus, and up to 1000.
        Words exponent(static_cast<size_t>(n), 0);
        const BnWord small[] = {2, 65537, static_cast<BnWord>(rng() & 0xFFFFFF),
                                0, 3,     static_cast<BnWord>(1 + rng() % 1000)};
        exponent[0] = small[round % 6];
        if (round % 6 == 3)
            exponent = randomWords(rng);
        if (round % 6 == 4) {
            base = modulus;
            base[0] += 5;
        }
        const Words modulusBefore = modulus;
        Words result(static_cast<size_t>(n));
        RsaPublic(result.data(), base.data(), exponent.data(), modulus.data(), n);
        EXPECT_EQ(modulus, modulusBefore) << "the caller's modulus is unchanged";

        const BnPtr R = bn();
        BN_mod_exp(R.get(), bn(base).get(), bn(exponent).get(), bn(modulus).get(), g_ctx.get());
        ASSERT_EQ(result, words(R, n)) << "round " << round;
    }
}
