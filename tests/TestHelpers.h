#pragma once
// Helpers of the tests that run on every platform.
#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

// The protocol's documented status request, as a message and as a frame.
extern const std::vector<uint8_t> kStatusRequestMessage, kStatusRequestFrame;
// The text of the Exception that `action` throws, or "(no exception)".
std::string messageOf(const std::function<void()>& action);
long msSince(std::chrono::steady_clock::time_point start);
// The wire image of one frame, as the transmitter puts it out.
std::vector<uint8_t> encodeFrame(const std::vector<uint8_t>& payload, uint8_t type = 74,
                                 uint16_t tag = 1974);
// `size` bytes of a random stream seeded with `seed`.
std::vector<uint8_t> randomBody(size_t size, uint32_t seed);
// The byte strings one after the other.
std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts);
