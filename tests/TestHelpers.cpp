#include "tests/TestHelpers.h"

#include <algorithm>
#include <random>

#include "link/FrameCodec.h"
#include "support/Exception.h"

const std::vector<uint8_t> kStatusRequestMessage = {0, 0, 0, 0, 0, 0, 0, 0, 0x64, 0, 0, 0};
const std::vector<uint8_t> kStatusRequestFrame = {0xAA, 0xAA, 0x78, 0x1D, 0x47, 0x91, 0x0C, 0x00,
                                                  0x01, 0x4A, 0xB6, 0x07, 0x00, 0x00, 0x00, 0x00,
                                                  0x00, 0x00, 0x00, 0x00, 0x64, 0x00, 0x00, 0x00};

std::string messageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& e) {
        return e.message;
    }
    return "(no exception)";
}

long msSince(std::chrono::steady_clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
}

std::vector<uint8_t> encodeFrame(const std::vector<uint8_t>& payload, uint8_t type, uint16_t tag) {
    std::vector<uint8_t> wire;
    FrameTransmitter tx([&](const uint8_t* d, uint16_t n) -> uint32_t {
        wire.insert(wire.end(), d, d + n);
        return n;
    });
    tx.queue(payload.data(), static_cast<uint16_t>(payload.size()), type, tag);
    tx.step();
    return wire;
}

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const std::vector<uint8_t>& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

std::vector<uint8_t> randomBody(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> body(size);
    std::generate(body.begin(), body.end(), [&rng] { return static_cast<uint8_t>(rng()); });
    return body;
}
