#pragma once
// The line-settings text "baud,parity,data bits,stop bits", e.g. "115200,N,8,1".
#include <string>

struct LineSettings {
    enum class Parity { None, Even, Odd };
    long baud = 0;
    Parity parity = Parity::None;
    long dataBits = 0;
    int stopBits = 1;
};

// Throws Exception with the port's own messages, checks in this order: field count,
// parity, stop bits. Numeric fields read like the C integer conversion.
LineSettings parseLineSettings(const std::string& text);
