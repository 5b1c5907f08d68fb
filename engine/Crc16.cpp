#include "engine/Crc16.h"

#include <array>

namespace {
constexpr std::array<uint16_t, 256> makeTable() {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t value = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 1) ? static_cast<uint16_t>((value >> 1) ^ 0xA001) : value >> 1;
        }
        table[i] = value;
    }
    return table;
}

constexpr std::array<uint16_t, 256> kTable = makeTable();
}  // namespace

uint16_t crc16ArcUpdate(uint16_t crc, const uint8_t* data, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        crc = static_cast<uint16_t>((crc >> 8) ^ kTable[(crc ^ data[i]) & 0xFF]);
    }
    return crc;
}
