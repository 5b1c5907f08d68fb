#pragma once
// The five product keys and the product names. The key values are data compiled into the
// program from a key table file; development builds use the project's own keys.
#include <cstdint>

using DeviceType = uint8_t;

constexpr DeviceType kDeviceTypeCount = 5;
constexpr int kProductKeySize = 128;

struct ProductKey {
    uint8_t modulus[kProductKeySize];   // least significant byte first
    uint8_t exponent[kProductKeySize];  // public exponent in the first 3 bytes
};

// The key of product 1..5; nullptr for any other code.
const ProductKey* productKey(DeviceType type);

// "Unknown device" for 0 and for any code above 5.
const char* productName(DeviceType type);

// Where the compiled key table came from (file name), for --version style output.
const char* productKeyTableName();
