#pragma once
// One line describing a frame's wire image: its bytes in hex and the decoded head and
// message header, for --trace output.
#include <cstddef>
#include <cstdint>
#include <string>

std::string describeFrame(const uint8_t* wire, size_t size);
