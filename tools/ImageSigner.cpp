#include "tools/ImageSigner.h"

#include <gcrypt.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "image/FirmwareImage.h"
#include "support/LittleEndian.h"

namespace {
// The loader's Sha1 is not used here on purpose: the reference digest comes from OpenSSL.
void sha1Reference(const uint8_t* data, size_t size, uint8_t out[20]) {
    unsigned int len = 20;
    EVP_Digest(data, size, out, &len, EVP_sha1(), nullptr);
}

struct PkeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

Pkey loadKey(const std::string& pemPath) {
    FILE* f = std::fopen(pemPath.c_str(), "r");
    if (!f) {
        throw SignerError{"cannot open key file " + pemPath};
    }
    EVP_PKEY* key = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
    std::fclose(f);
    if (!key || EVP_PKEY_get_bits(key) != 1024) {
        EVP_PKEY_free(key);
        throw SignerError{"key file " + pemPath + " holds no 1024-bit RSA private key"};
    }
    return Pkey(key);
}

void swapHalves(uint8_t* data, size_t size) {
    for (size_t i = 0; i + 8 <= size; i += 8) {
        std::swap_ranges(data + i, data + i + 4, data + i + 4);
    }
}

void ensureGcrypt() {
    static const bool ready = [] {
        gcry_check_version(nullptr);
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    (void)ready;
}

// libgcrypt's GOST 28147-89 in CBC mode with the S-box "1.2.643.2.2.30.0", laid out as the
// loader reads blocks (each 8-byte block's two halves swapped against libgcrypt's order).
std::vector<uint8_t> gostCbcEncryptReference(const uint8_t key[32], const uint8_t iv[8],
                                             const std::vector<uint8_t>& input) {
    ensureGcrypt();
    if (input.size() % 8 != 0) {
        throw SignerError{"GOST input must be whole 8-byte blocks"};
    }
    gcry_cipher_hd_t h = nullptr;
    if (gcry_cipher_open(&h, GCRY_CIPHER_GOST28147, GCRY_CIPHER_MODE_CBC, 0) != 0) {
        throw SignerError{"libgcrypt: GOST 28147-89 is not available"};
    }
    uint8_t swappedIv[8];
    std::memcpy(swappedIv, iv, 8);
    swapHalves(swappedIv, 8);
    std::vector<uint8_t> data = input;
    swapHalves(data.data(), data.size());
    gcry_error_t err = gcry_cipher_set_sbox(h, "1.2.643.2.2.30.0");
    if (!err)
        err = gcry_cipher_setkey(h, key, 32);
    if (!err)
        err = gcry_cipher_setiv(h, swappedIv, 8);
    if (!err && !data.empty()) {
        err = gcry_cipher_encrypt(h, data.data(), data.size(), nullptr, 0);
    }
    gcry_cipher_close(h);
    if (err) {
        throw SignerError{std::string("libgcrypt GOST failed: ") + gcry_strerror(err)};
    }
    swapHalves(data.data(), data.size());
    return data;
}
}  // namespace

void randomBytes(uint8_t* out, size_t count) {
    ensureGcrypt();
    gcry_randomize(out, count, GCRY_STRONG_RANDOM);
}

void generateProductKey(const std::string& pemPath) {
    EVP_PKEY* key = EVP_RSA_gen(1024);
    if (!key) {
        throw SignerError{"key generation failed"};
    }
    Pkey owned(key);
    FILE* f = std::fopen(pemPath.c_str(), "w");
    if (!f) {
        throw SignerError{"cannot create key file " + pemPath};
    }
    const bool ok = PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    if (std::fclose(f) != 0 || !ok) {
        throw SignerError{"cannot write key file " + pemPath};
    }
}

std::string productKeyTableLine(int deviceType, const std::string& pemPath) {
    Pkey key = loadKey(pemPath);
    BIGNUM* n = nullptr;
    BIGNUM* e = nullptr;
    EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_RSA_N, &n);
    EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_RSA_E, &e);
    uint8_t modulus[128] = {}, exponent[3] = {};
    const bool ok =
        n && e && BN_bn2lebinpad(n, modulus, 128) == 128 && BN_bn2lebinpad(e, exponent, 3) == 3;
    BN_free(n);
    BN_free(e);
    if (!ok) {
        throw SignerError{"key file " + pemPath + ": modulus or exponent does not fit the table"};
    }
    return "product" + std::to_string(deviceType) + " " + hexBytes(modulus, sizeof modulus) + " " +
           hexBytes(exponent, sizeof exponent);
}

std::string hexBytes(const uint8_t* bytes, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i)
        text += {digits[bytes[i] >> 4], digits[bytes[i] & 15]};
    return text;
}

namespace {
// Signs an opened 128-byte header (its header digest is filled in first).
void signHeader(const std::string& pemPath, uint8_t header[128], uint8_t block[128]) {
    sha1Reference(header, header::kDigestedBytes, header + header::kHeaderDigest);
    header[126] = 0;  // keeps the integer below any 1024-bit modulus with its top bit set
    header[127] = 0;
    Pkey key = loadKey(pemPath);
    // The raw private-key operation works on big-endian integers.
    uint8_t bigEndian[128];
    std::reverse_copy(header, header + 128, bigEndian);
    std::unique_ptr<EVP_PKEY_CTX, void (*)(EVP_PKEY_CTX*)> ctx(EVP_PKEY_CTX_new(key.get(), nullptr),
                                                               EVP_PKEY_CTX_free);
    uint8_t out[128];
    size_t outLen = sizeof out;
    if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) <= 0 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) <= 0 ||
        EVP_PKEY_decrypt(ctx.get(), out, &outLen, bigEndian, sizeof bigEndian) <= 0 ||
        outLen != 128) {
        throw SignerError{"private-key operation with " + pemPath + " failed"};
    }
    std::reverse_copy(out, out + 128, block);
}
}  // namespace

std::vector<uint8_t> makeFirmwareImage(const std::string& pemPath, const std::vector<uint8_t>& body,
                                       const ImageSpec& spec) {
    uint8_t header[128];
    randomBytes(header, sizeof header);  // uninterpreted bytes carry no meaning
    header[header::kVersion] = spec.versionMinor;
    header[header::kVersion + 1] = spec.versionMajor;
    putLe32(header + header::kBuild, spec.build);
    putLe32(header + header::kTimestamp, spec.timestamp);
    putLe32(header + header::kLength,
            spec.overrideLength ? spec.length : static_cast<uint32_t>(body.size()));
    putLe16(header + header::kFlags, spec.flags);
    sha1Reference(body.data(), body.size(), header + header::kBodyDigest);
    // Fresh body key and chaining value inside each image.
    randomBytes(header + header::kBodyKey, 32 + 8);

    std::vector<uint8_t> plain = body;
    plain.resize((body.size() + 7) / 8 * 8, 0xFF);
    const std::vector<uint8_t> cipher =
        gostCbcEncryptReference(header + header::kBodyKey, header + header::kBodyIv, plain);

    std::vector<uint8_t> image(128);
    signHeader(pemPath, header, image.data());
    image.insert(image.end(), cipher.begin(), cipher.end());
    return image;
}

std::vector<uint8_t> readFileBytes(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        throw SignerError{"cannot open " + path};
    }
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) {
        throw SignerError{"cannot read " + path};
    }
    return bytes;
}

void writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        throw SignerError{"cannot create " + path};
    }
    // An empty vector's data() may be null, which fwrite must not be given.
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !ok) {
        throw SignerError{"cannot write " + path};
    }
}
