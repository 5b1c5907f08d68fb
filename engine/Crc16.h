#pragma once
// CRC-16/ARC: polynomial 0x8005 reflected (0xA001), initial value 0, no final XOR.
// Check value 0xBB3D for "123456789". Table-driven; the running value is carried across
// calls so a body can be fed page by page.
#include <cstddef>
#include <cstdint>

uint16_t crc16ArcUpdate(uint16_t crc, const uint8_t* data, size_t count);
