#pragma once
// The program's one error type: a single printf-style formatted text.
#include <string>

class Exception {
  public:
    // The text is always complete, whatever its length.
    explicit Exception(const char* format, ...) __attribute__((format(printf, 2, 3)));

    const char* text() const { return message.c_str(); }

    std::string message;
};
