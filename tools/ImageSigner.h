#pragma once
// Making firmware images with development keys. Built on OpenSSL (keys, the private-key
// operation) and libgcrypt (GOST 28147-89 CBC encryption), independent of the loader's
// own routines, so that images made here prove the loader's checks. Tools and tests only.
#include <cstdint>
#include <string>
#include <vector>

struct ImageSpec {
    uint8_t versionMajor = 1;
    uint8_t versionMinor = 0;
    uint16_t flags = 0;
    uint32_t build = 1;
    uint32_t timestamp = 0;  // seconds since 2000-01-01 00:00:00
    // Header length field; by default the body's length.
    bool overrideLength = false;
    uint32_t length = 0;
};

// Thrown with a message naming what failed and with which file.
struct SignerError {
    std::string message;
};

// Generates a 1024-bit key pair with e = 65537 into a PEM file.
void generateProductKey(const std::string& pemPath);
// "product<N> <modulus> <exponent>" for a key table, hex least significant byte first.
std::string productKeyTableLine(int deviceType, const std::string& pemPath);
// The bytes in lower-case hex, two digits each, in the order given.
std::string hexBytes(const uint8_t* bytes, size_t size);

// A signed image: header block (the opened header signed with the private key) followed
// by the body encrypted with a random key and chaining value.
std::vector<uint8_t> makeFirmwareImage(const std::string& pemPath, const std::vector<uint8_t>& body,
                                       const ImageSpec& spec);

void randomBytes(uint8_t* out, size_t count);
std::vector<uint8_t> readFileBytes(const std::string& path);
void writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
