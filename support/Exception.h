#pragma once
// The program's one error type: a single printf-style formatted text, and optionally a hint
// that says in a user's words what the system knows of why (a port failure's cause).
#include <string>

// MinGW's printf attribute means Microsoft's conversions; ours are the C99 ones.
#if defined(__MINGW32__)
#define OSTRA_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define OSTRA_PRINTF(f, a) __attribute__((format(printf, f, a)))
#endif

class Exception {
  public:
    // The text is always complete, whatever its length.
    explicit Exception(const char* format, ...) OSTRA_PRINTF(2, 3);

    const char* text() const { return message.c_str(); }
    // The message, then the hint on a line of its own when there is one.
    std::string report() const { return hint.empty() ? message : message + "\n" + hint; }

    std::string message;
    std::string hint;
};
