// The loader's own primitives against published vectors and independent references. Their
// use on random data is proven by every image test as well: the image tool makes images with
// OpenSSL's SHA-1 and RSA and libgcrypt's GOST under random keys, and the image fuzz target
// requires every good image to pass.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/evp.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "image/Bignum.h"
#include "image/Gost.h"
#include "image/Sha1.h"
#include "image/Sha256.h"
#include "tests/TestHelpers.h"
#include "tools/ImageSigner.h"

using Bytes = std::vector<uint8_t>;

namespace {
using Vectors = std::vector<std::pair<std::string, std::string>>;
// A digest of the pieces fed in turn, as lower-case hexadecimal.
using Digest = std::function<std::string(const std::vector<std::pair<const uint8_t*, size_t>>&)>;

// The published vectors, then every length from 0 to 130 bytes against OpenSSL (the
// padding's boundaries at 55, 56, 63, 64 and 65 bytes past a block and their second
// block), each whole and fed in pieces of 1 to 67 bytes.
void expectDigests(Vectors vectors, const EVP_MD* reference, const Digest& digest) {
    const Bytes random = randomBody(130, 55);
    for (size_t length = 0; length <= 130; ++length) {
        uint8_t expected[EVP_MAX_MD_SIZE];
        unsigned size = 0;
        ASSERT_EQ(EVP_Digest(random.data(), length, expected, &size, reference, nullptr), 1);
        vectors.emplace_back(std::string(random.begin(), random.begin() + length),
                             hexBytes(expected, size));
    }
    for (const auto& [input, expected] : vectors) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(input.data());
        std::vector<std::pair<const uint8_t*, size_t>> pieces;
        for (size_t at = 0, piece = 1; at < input.size(); at += piece, piece = piece % 67 + 1)
            pieces.emplace_back(bytes + at, std::min(piece, input.size() - at));
        EXPECT_EQ(digest({{bytes, input.size()}}), expected) << input.size() << " bytes";
        EXPECT_EQ(digest(pieces), expected) << input.size() << " bytes in pieces";
    }
}
// A hash's own three calls as a Digest.
template <size_t Size, typename Context>
Digest digestWith(void (*reset)(Context*), void (*input)(Context*, const uint8_t*, size_t),
                  void (*result)(Context*, uint8_t*)) {
    return [=](const std::vector<std::pair<const uint8_t*, size_t>>& pieces) {
        Context c;
        reset(&c);
        for (const auto& [bytes, size] : pieces)
            input(&c, bytes, size);
        uint8_t out[Size];
        result(&c, out);
        return hexBytes(out, Size);
    };
}
}  // namespace

// FIPS 180-1 appendices A, B and C and RFC 3174 section 7.3.
TEST(Sha1, PublishedVectorsAndEveryShortLengthWholeAndInPieces) {
    expectDigests({{"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
                   {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
                   {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                    "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
                   {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"}},
                  EVP_sha1(), digestWith<kSha1DigestSize>(Sha1Reset, Sha1Input, Sha1Result));
    uint8_t whole[kSha1DigestSize];
    Sha1Digest(reinterpret_cast<const uint8_t*>("abc"), 3, whole);
    EXPECT_EQ(hexBytes(whole, sizeof whole), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

// FIPS 180-2 appendix B (one block, two blocks, a million "a").
TEST(Sha256, PublishedVectorsAndEveryShortLengthWholeAndInPieces) {
    expectDigests({{"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
                   {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
                   {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                    "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
                   {std::string(1000000, 'a'),
                    "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}},
                  EVP_sha256(),
                  digestWith<kSha256DigestSize>(Sha256Reset, Sha256Input, Sha256Result));
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
